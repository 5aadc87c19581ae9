#pragma once
// The phantom list ("Phantoms.zev"): articles that no server-group references but that
// must stay, such as imported ones and articles marked for download whose last reference
// expired. They carry an artificial reference count of 1. The file is a plain array of
// 32-bit little-endian offsets in ascending order without duplicates.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/MsgData.h"

namespace zev {

class TArticle;

class TPhantomList {
 public:
  // Loads the file when it exists. A file that is not such an array (odd size, unsorted,
  // duplicates, values that are never records) is read as far as it makes sense.
  explicit TPhantomList(std::string fileName);

  // Offsets of 16 or less are ignored; the file is written when the list changed.
  void Add(TArticleOffset offset);
  bool Contains(TArticleOffset offset) const;
  // Writes the whole list; an empty list deletes the file.
  void Save();
  // Expires the phantoms that are no longer marked for download and writes the list.
  // `idle` runs every 128 entries.
  void Scan(TArticle& article, const std::function<void()>& idle = {});
  const std::vector<TArticleOffset>& Offsets() const { return offsets_; }

 private:
  std::string fileName_;
  std::vector<TArticleOffset> offsets_;
};

}  // namespace zev
