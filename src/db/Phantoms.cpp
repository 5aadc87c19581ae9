#include "db/Phantoms.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "core/Error.h"
#include "core/Log.h"
#include "db/Article.h"
#include "db/FileHandle.h"

namespace zev {

TPhantomList::TPhantomList(std::string fileName) : fileName_(std::move(fileName)) {
  if (!FileExists(fileName_)) return;
  TFileHandle file(fileName_, O_RDONLY);
  uint64_t entries = file.Size() / 4;
  if (entries > static_cast<uint64_t>(INT32_MAX)) throw EZevError("Phantoms file too large to load!");
  offsets_.resize(entries);
  offsets_.resize(file.ReadAt(0, offsets_.data(), entries * 4) / 4);
  std::erase_if(offsets_, [](TArticleOffset o) { return o <= 16; });
  std::sort(offsets_.begin(), offsets_.end());
  offsets_.erase(std::unique(offsets_.begin(), offsets_.end()), offsets_.end());
}

void TPhantomList::Add(TArticleOffset offset) {
  if (offset <= 16) return;
  auto it = std::lower_bound(offsets_.begin(), offsets_.end(), offset);
  if (it != offsets_.end() && *it == offset) return;
  offsets_.insert(it, offset);
  Save();
}

bool TPhantomList::Contains(TArticleOffset offset) const {
  return std::binary_search(offsets_.begin(), offsets_.end(), offset);
}

void TPhantomList::Save() {
  if (offsets_.empty()) {
    ::unlink(fileName_.c_str());
    return;
  }
  std::string temp = fileName_ + ".new";
  {
    TFileHandle file(temp, O_RDWR | O_CREAT | O_TRUNC);
    file.WriteAt(0, offsets_.data(), offsets_.size() * 4);
    file.SyncData();
  }
  if (::rename(temp.c_str(), fileName_.c_str()) != 0) {
    ::unlink(temp.c_str());
    throw EZevError("Cannot replace \"" + fileName_ + "\"");
  }
}

// The list is written after the scan: an offset left in the file could name a slot that a
// new article takes later, and a later scan would expire that article.
void TPhantomList::Scan(TArticle& article, const std::function<void()>& idle) {
  {
    TArticleLock lock(article);
    for (size_t n = offsets_.size(), visited = 0; n-- > 0; ++visited) {
      if (idle && visited % 128 == 127) idle();
      TArticleOffset a = offsets_[n];
      try {
        if (!article.Read(a)) {
          offsets_.erase(offsets_.begin() + static_cast<ptrdiff_t>(n));
          continue;
        }
        if (article.Data().FRefCount == 1 && !HasFlag(article.Data(), afMarked)) {
          article.Clear();
          article.Expire(a);
          offsets_.erase(offsets_.begin() + static_cast<ptrdiff_t>(n));
        }
      } catch (const std::exception& e) {
        LogException(e, "TPhantomList.Scan");
        offsets_.erase(offsets_.begin() + static_cast<ptrdiff_t>(n));
      }
    }
    article.Clear();
  }
  Save();
}

}  // namespace zev
