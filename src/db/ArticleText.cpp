// TArticle: the texts of an article, their string lists with reference counts, and the
// subject template with its placeholder codes.
#include <algorithm>
#include <cstring>

#include "core/Format.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/SanitizeName.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/BTree.h"
#include "db/BTreeFormat.h"
#include "db/NwsStore.h"

namespace zev {

namespace {

constexpr const char* kInvalidArticle = "(invalid article)";
constexpr const char* kLabels[] = {"Subject", "Author", "Filename", "Download Directory"};
constexpr const char* kLoadFailures[] = {"Failed to load subject, resetting to blank", "Failed to load author",
                                         "Failed to load filename, resetting to blank",
                                         "Failed to load download directory, resetting to default"};

// "7" of 120 as "007": the number padded to the width of the total.
std::string Padded(uint32_t number, uint32_t total) {
  std::string n = std::to_string(number), t = std::to_string(total);
  return n.size() < t.size() ? std::string(t.size() - n.size(), '0') + n : n;
}

std::string KiloBytes(uint32_t size, char decimalPoint) {
  std::string text = std::to_string(size / 1024);
  if (uint32_t rest = size % 1024) text += FormatText("%c%02u", decimalPoint, rest * 100 / 1024);
  return text;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) < 33) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) < 33) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  s = TrimBlanks(s);
  if (s.size() > 1 && s.front() == '"' && s.back() == '"') s = TrimBlanks(s.substr(1, s.size() - 2));
  return s;
}

// Appends the text after a closing run of `close` characters to `name`.
void AppendRest(std::string& name, std::string_view after, char close) {
  while (!after.empty() && after.front() == close) after.remove_prefix(1);
  std::string_view rest = Unquote(after);
  if (rest.empty()) return;
  if (!name.empty()) name += ' ';
  name += rest;
}

}  // namespace

std::string TArticle::ExpandTemplate(std::string_view tmpl, const FMsgData& r, std::string_view fileName,
                                     char decimalPoint) {
  std::string out = HasFlag(r, afIsReply) ? "Re: " : "";
  for (char ch : tmpl) {
    switch (ch) {
      case tcFileSetSlash: out += Padded(r.FFileNo, r.FFileTotal) + "/" + std::to_string(r.FFileTotal); break;
      case tcFileSetOf: out += Padded(r.FFileNo, r.FFileTotal) + " of " + std::to_string(r.FFileTotal); break;
      case tcFileName: out += fileName; break;
      case tcPartNo: out += Padded(r.FPartNo, r.FPartTotal) + "/" + std::to_string(r.FPartTotal); break;
      case tcSizeBytes: out += std::to_string(r.FFileSize); break;
      case tcSizeKB: out += KiloBytes(r.FFileSize, decimalPoint); break;
      case tcYenc: out += "yEnc"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string TArticle::PatternOf(std::string_view tmpl) {
  std::string out;
  for (char ch : tmpl) {
    switch (ch) {
      case tcFileSetSlash:
      case tcFileSetOf: out += "$S"; break;
      case tcFileName: out += "$F"; break;
      case tcPartNo: out += "$P"; break;
      case tcSizeBytes: out += "$B"; break;
      case tcSizeKB: out += "$K"; break;
      case tcYenc: out += "yEnc"; break;
      case '$': out += "$$"; break;
      default: out += ch;
    }
  }
  return out;
}

std::string TArticle::DisplayNameOf(std::string_view author) {
  std::string name;
  size_t lt = author.find('<');
  size_t gt = lt == std::string_view::npos ? std::string_view::npos : author.find('>', lt);
  size_t open = author.find('(');
  if (gt != std::string_view::npos) {
    name = Unquote(author.substr(0, lt));
    AppendRest(name, author.substr(gt), '>');
  } else if (open != std::string_view::npos) {
    name = TrimBlanks(author.substr(0, open));
    size_t close = author.find(')', open);
    if (close == std::string_view::npos) {
      name.clear();
    } else {
      name = Unquote(name);
      AppendRest(name, author.substr(close), ')');
      if (name.find('@') != std::string::npos) {
        size_t from = open;
        while (from < author.size() && author[from] == '(') ++from;
        std::string inner(Unquote(author.substr(from, close - from)));
        if (inner.find('@') == std::string::npos) name = inner;
      }
    }
  }
  return name.empty() ? std::string(author) : name;
}

TBTree* TArticle::ListOf(TStringKind kind) const {
  switch (kind) {
    case skSubject: return store_.SubjLst();
    case skAuthor: return store_.AuthLst();
    case skFileName: return store_.FileLst();
    default: return store_.DirLst();
  }
}

size_t TArticle::PointerOffset(TStringKind kind) {
  switch (kind) {
    case skSubject: return offsetof(FMsgData, FSubject);
    case skAuthor: return offsetof(FMsgData, FAuthor);
    case skFileName: return offsetof(FMsgData, FFileName);
    default: return offsetof(FMsgData, FDownloadDir);
  }
}

std::string TArticle::LoadText(TStringKind kind) {
  std::lock_guard lock(lock_);
  if (offset_ == 0) return kInvalidArticle;
  if (cache_[kind]) return *cache_[kind];
  uint32_t pointer = FieldAt(msg_, PointerOffset(kind));
  std::string text;
  if (pointer != 0) {
    uint8_t header[fmt::kStringHeaderSize];
    bool loaded = false;
    try {
      loaded = ListOf(kind)->ReadRecordAndKey(pointer, text, header);
    } catch (const std::exception&) {
      LogError(kLoadFailures[kind], 1);
    }
    if (!loaded) {
      SetFieldAt(msg_, PointerOffset(kind), 0);
      dirty_ = true;
      text.clear();
    }
  }
  cache_[kind] = text;
  return text;
}

std::string TArticle::GetSubjectTemplate() { return LoadText(skSubject); }
std::string TArticle::GetAuthor() { return LoadText(skAuthor); }
std::string TArticle::GetFileName() { return LoadText(skFileName); }
std::string TArticle::GetDownloadDir() { return LoadText(skDownloadDir); }

std::string TArticle::GetSubject() {
  std::lock_guard lock(lock_);
  std::string tmpl = LoadText(skSubject);
  if (offset_ == 0 || !HasFlag(msg_, afBuildSubject)) return tmpl;
  bool needsName = tmpl.find(static_cast<char>(tcFileName)) != std::string::npos;
  return ExpandTemplate(tmpl, msg_, needsName ? LoadText(skFileName) : std::string(),
                        UserNumberSymbols().decimalPoint);
}

std::string TArticle::GetSubjectPattern() {
  std::lock_guard lock(lock_);
  return offset_ == 0 ? kInvalidArticle : PatternOf(LoadText(skSubject));
}

std::string TArticle::GetSortSubject() {
  std::string subject = UpperAscii(GetSubject());
  if (subject.compare(0, 4, "RE: ") == 0) subject = subject.substr(4) + "(2)";
  return subject;
}

std::string TArticle::SubjectDirectory() {
  std::lock_guard lock(lock_);
  if (offset_ == 0) return {};
  std::string name = SanitizeName(LoadText(skSubject), false, kNameLimit);
  size_t start = name.find_first_not_of('/');
  name = start == std::string::npos ? std::string() : name.substr(start);
  if (!name.empty()) name += '/';
  return name;
}

std::string TArticle::AuthorDisplayName() {
  std::lock_guard lock(lock_);
  return offset_ == 0 ? kInvalidArticle : DisplayNameOf(LoadText(skAuthor));
}

std::string TArticle::GetMessageId() {
  std::lock_guard lock(lock_);
  if (messageIdKnown_) return messageId_;
  std::string id;
  if (offset_ > 16) {
    id.assign(msg_.FMsgId, strnlen(msg_.FMsgId, sizeof msg_.FMsgId));
    if (!store_.MsgLst()->FindKeyOfData(id, offset_)) id.clear();
  }
  messageId_ = id;
  messageIdKnown_ = true;
  return id;
}

std::string TArticle::GetBracketedMessageId() {
  const std::string id = GetMessageId();
  std::string bracketed;
  bracketed.reserve(id.size() + 2);
  bracketed.append(1, '<').append(id).append(1, '>');
  return bracketed;
}

// Takes this article's reference from its current text of that kind; the text goes when
// nobody else uses it.
void TArticle::DropReference(TStringKind kind) {
  uint32_t pointer = FieldAt(msg_, PointerOffset(kind));
  if (pointer == 0) return;
  TBTree* list = ListOf(kind);
  try {
    std::string old;
    uint8_t header[fmt::kStringHeaderSize];
    if (!list->ReadRecordAndKey(pointer, old, header)) return;
    if (fmt::Load32(header + 4) < 2) {
      list->DeleteKey(old, true);
    } else {
      const int32_t minusOne[2] = {0, -1};
      list->AddToRecord(pointer, minusOne);
    }
  } catch (const std::exception&) {
    LogError(FormatText("Warning! Failure to delete a %s key. This is a sign of possible database corruption.",
                        kLabels[kind]),
             1);
  }
}

// The data pointer of `text` in its list with this article's reference added.
uint32_t TArticle::AddReference(TStringKind kind, std::string_view text, bool& created) {
  created = false;
  TBTree* list = ListOf(kind);
  try {
    uint8_t header[fmt::kStringHeaderSize] = {0, 0, 0, 0, 1, 0, 0, 0};
    const int32_t plusOne[2] = {0, 1};
    const std::string_view key = text.substr(0, fmt::kMaxKeyLength);
    TStringRefCache& places = places_[kind];
    uint64_t epoch = 0;
    if (TDataPointer known = places.Find(*list, key, epoch); known != 0 && list->AddToRecord(known, plusOne, epoch))
      return known;
    epoch = list->Epoch();
    TDataPointer dp = 0;
    created = list->Insert(key, header, dp, plusOne);
    if (dp != 0) {
      places.Remember(*list, epoch, key, dp);
      return dp;
    }
  } catch (const std::exception&) {
  }
  created = false;
  LogError(FormatText("Warning! Failure to insert a %s key. This is a sign of possible database corruption.",
                      kLabels[kind]),
           1);
  return 0;
}

bool TArticle::SetText(TStringKind kind, std::string_view text) {
  std::lock_guard lock(lock_);
  if (offset_ <= 16) return false;
  cache_[kind].reset();
  uint32_t pointer = FieldAt(msg_, PointerOffset(kind));
  if (pointer != 0) {
    std::string old;
    uint8_t header[fmt::kStringHeaderSize];
    bool readable = false;
    try {
      readable = ListOf(kind)->ReadRecordAndKey(pointer, old, header);
    } catch (const std::exception&) {
    }
    if (readable && EqualsIgnoreCase(old, text.substr(0, fmt::kMaxKeyLength))) return false;
    if (readable) DropReference(kind);
  }
  bool created = false;
  SetFieldAt(msg_, PointerOffset(kind), text.empty() ? 0 : AddReference(kind, text, created));
  dirty_ = true;
  if (kind == skFileName && created) gNewFileNames = true;
  return created;
}

bool TArticle::SetSubject(std::string_view subjectTemplate) { return SetText(skSubject, subjectTemplate); }
bool TArticle::SetAuthor(std::string_view author) { return SetText(skAuthor, author); }
bool TArticle::SetFileName(std::string_view fileName) { return SetText(skFileName, fileName); }
bool TArticle::SetDownloadDir(std::string_view directory) { return SetText(skDownloadDir, directory); }

bool TArticle::SetDownloadDirCached(std::string_view directory) {
  std::lock_guard lock(lock_);
  bool created = SetDownloadDir(directory);
  if (offset_ > 16) cache_[skDownloadDir] = std::string(directory);
  return created;
}

void TArticle::SetFileNamePointer(uint32_t pointer) {
  std::lock_guard lock(lock_);
  if (pointer != msg_.FFileName) cache_[skFileName].reset();
  if (pointer >= store_.FileLst()->FileSize()) {
    LogError(FormatText("Invalid offset (%d) to %s string.", static_cast<int>(pointer), "Filename"), 1, true);
    return;
  }
  msg_.FFileName = pointer;
  dirty_ = true;
}

void TArticle::SwapPartAndSetNumbers() {
  std::lock_guard lock(lock_);
  if (offset_ <= 16 || HasFlag(msg_, afMarked)) return;
  std::string tmpl = GetSubjectTemplate();
  size_t set = tmpl.find(static_cast<char>(tcFileSetSlash));
  if (set == std::string::npos) set = tmpl.find(static_cast<char>(tcFileSetOf));
  size_t part = tmpl.find(static_cast<char>(tcPartNo));
  if (set != std::string::npos) tmpl[set] = tcPartNo;
  if (part != std::string::npos) tmpl[part] = tcFileSetSlash;
  SetSubject(tmpl);

  uint16_t partNo = msg_.FPartNo, partTotal = msg_.FPartTotal;
  msg_.FPartNo = msg_.FFileNo;
  msg_.FPartTotal = msg_.FFileTotal;
  msg_.FFileNo = partNo;
  msg_.FFileTotal = partTotal;
  if (msg_.FFileNo == 0) msg_.FFileNo = 1;
  if (msg_.FFileTotal == 0) msg_.FFileTotal = 1;
  if (msg_.FPartTotal == 0) {
    msg_.FPartTotal = 1;
    if (msg_.FPartNo == 0) msg_.FPartNo = 1;
  }
  if (msg_.FPartTotal == 1) {
    ClearFlag(msg_, afMultiPart);
    msg_.FFileSize = msg_.FPartSize;
  } else {
    SetFlag(msg_, afMultiPart);
  }
  ClearFlag(msg_, afHideIfCombined);
  if (HasFlag(msg_, afMultiPart)) {
    ClearFlag(msg_, afGoodParts);
    SetFlag(msg_, afBadParts);
  } else {
    SetFlag(msg_, afGoodParts);
    ClearFlag(msg_, afBadParts);
  }

  // Leave the old chain: the neighbours lose their link to this article.
  for (bool forward : {true, false}) {
    size_t own = forward ? offsetof(FMsgData, FNextPart) : offsetof(FMsgData, FPrevPart);
    size_t back = forward ? offsetof(FMsgData, FPrevPart) : offsetof(FMsgData, FNextPart);
    uint32_t link = FieldAt(msg_, own);
    if (link > 16) {
      FMsgData n{};
      if (ReadAt(link, n)) {
        SetFieldAt(n, back, 0);
        ClearFlag(n, afGoodParts);
        ClearFlag(n, afHideIfCombined);
        SetFlag(n, afBadParts);
        WriteAt(link, n);
      } else {
        store_.MsgLst()->ReadRecord(link, &n);
        std::string bracketed = GetBracketedMessageId();
        LogError(FormatText("FMsgData.%s pointed to Offs=%u, MsgID=%s [short: <%.5s...>], RefCount=%d!",
                            forward ? "FNextPart" : "FPrevPart", link, bracketed.c_str(),
                            std::string(n.FMsgId, strnlen(n.FMsgId, 8)).c_str(), static_cast<int>(n.FRefCount)),
                 1, true);
      }
    }
    SetFieldAt(msg_, own, 0);
  }
  dirty_ = true;
}

}  // namespace zev
