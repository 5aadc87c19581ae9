#include "filters/KillWant.h"

#include <algorithm>

#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "core/ZevIniFile.h"
#include "db/MsgData.h"

namespace zev {

TKillWant* gKillWant = nullptr;

namespace {

constexpr const char* kKillFile = "KillFile.ini";
constexpr const char* kWantFile = "WantFile.ini";

std::string SectionName(size_t i) { return "Filter:" + std::to_string(i); }

// The kind bit a filter of that file must carry. A filter that claims neither kind, or
// both, would be saved to no file or to both; the file it was read from decides.
uint8_t WithKind(uint8_t flags, uint8_t fileKind) {
  const uint8_t kinds = flags & (kwKill | kwWant);
  if (kinds == kwKill || kinds == kwWant) return flags;
  return static_cast<uint8_t>((flags & ~(kwKill | kwWant)) | fileKind);
}

}  // namespace

TKillWant::TKillWant(std::string dataDir) : dataDir_(std::move(dataDir)), now_([] { return NowLocal(); }) {
  if (!dataDir_.empty() && dataDir_.back() != '/') dataDir_ += '/';
}

void TKillWant::Load() {
  LoadFile(kKillFile, kwKill);
  LoadFile(kWantFile, kwWant);
}

void TKillWant::LoadFile(const std::string& name, uint8_t kind) {
  TZevIniFile ini(dataDir_ + name);
  const TDateTime now = now_();
  std::vector<TFilter> loaded;
  for (size_t i = 0; ini.SectionExists(SectionName(i)); ++i)
    if (TFilter filter = LoadSection(ini, SectionName(i), kind, now)) loaded.push_back(std::move(filter));
  std::lock_guard lock(listLock_);
  for (TFilter& filter : loaded) list_.push_back(std::move(filter));
}

TKillWant::TFilter TKillWant::LoadSection(TZevIniFile& ini, const std::string& section, uint8_t kind,
                                          TDateTime now) const {
  // A section without an expression, or with one that does not compile, is dropped; the
  // next Save renumbers the rest.
  if (!ini.ValueExists(section, "RegEx")) return nullptr;
  const std::string regex = ini.ReadString(section, "RegEx", "");
  if (regex.empty()) return nullptr;
  auto filter = std::make_shared<TKWItem>();
  try {
    filter->Expression.SetPattern(regex);
  } catch (const EPerlRe&) {
    return nullptr;
  }
  uint8_t flags = kind;
  if (ini.ValueExists(section, "Flags")) ini.ReadHexBytes(section, "Flags", 1, &flags);
  filter->SetFlags(WithKind(flags, kind));
  try {
    filter->Groups.SetPattern(ini.ReadString(section, "Groups", ""));
  } catch (const EPerlRe&) {
    // A broken groups text would exclude every newsgroup; at load it means all of them.
    filter->Groups.SetPattern("");
  }
  filter->Score = static_cast<int8_t>(static_cast<uint8_t>(ini.ReadInteger(section, "Score", 0) & 0xFF));
  const int64_t packed = ini.ReadInteger(section, "Expire", 0);
  if (packed > 0 && packed <= UINT32_MAX) filter->SetExpiry(UnpackFileDate(static_cast<uint32_t>(packed)));
  filter->ExpireBy(now);
  filter->DownloadDir = ini.ReadString(section, "DlDir", "");
  return filter;
}

void TKillWant::Save() {
  std::lock_guard lock(listLock_);
  SaveFile(kKillFile, kwKill);
  SaveFile(kWantFile, kwWant);
}

void TKillWant::SaveFile(const std::string& name, uint8_t kind) {
  TZevIniFile ini(dataDir_ + name);
  size_t n = 0;
  for (const TFilter& f : list_) {
    if (!f->Has(kind)) continue;
    const std::string section = SectionName(n++);
    ini.WriteString(section, "RegEx", f->Expression.Pattern());
    const uint8_t flags = f->Flags();
    ini.WriteHexBytes(section, "Flags", 1, &flags);
    if (f->Groups.Pattern().empty()) ini.DeleteKey(section, "Groups");
    else ini.WriteString(section, "Groups", f->Groups.Pattern());
    if (f->Score == 0) ini.DeleteKey(section, "Score");
    else ini.WriteInteger(section, "Score", f->Score);
    const uint32_t packed = f->Expiry() != 0 ? PackFileDate(f->Expiry()) : 0;
    if (packed == 0) ini.DeleteKey(section, "Expire");
    else ini.WriteInteger(section, "Expire", packed);
    if (f->DownloadDir.empty()) ini.DeleteKey(section, "DlDir");
    else ini.WriteString(section, "DlDir", f->DownloadDir);
  }
  for (size_t i = n; ini.SectionExists(SectionName(i)); ++i) ini.EraseSection(SectionName(i));
  ini.UpdateFile();
}

void TKillWant::Add(TFilter filter) {
  if (!filter) return;
  std::lock_guard lock(listLock_);
  list_.push_back(std::move(filter));
}

void TKillWant::Remove(const TKWItem* filter) {
  std::lock_guard lock(listLock_);
  std::erase_if(list_, [&](const TFilter& f) { return f.get() == filter; });
}

void TKillWant::Replace(const TKWItem* old, TFilter edited) {
  if (!edited) return;
  std::lock_guard lock(listLock_);
  auto it = std::find_if(list_.begin(), list_.end(), [&](const TFilter& f) { return f.get() == old; });
  if (it == list_.end()) list_.push_back(std::move(edited));
  else *it = std::move(edited);
}

int TKillWant::CountOfKind(bool want) const {
  std::lock_guard lock(listLock_);
  const uint8_t kind = want ? kwWant : kwKill;
  return static_cast<int>(std::count_if(list_.begin(), list_.end(), [&](const TFilter& f) { return f->Has(kind); }));
}

TKillWant::TFilter TKillWant::ItemOfKind(bool want, int n) const {
  std::lock_guard lock(listLock_);
  const uint8_t kind = want ? kwWant : kwKill;
  for (const TFilter& f : list_)
    if (f->Has(kind) && n-- == 0) return f;
  return nullptr;
}

std::vector<TKillWant::TFilter> TKillWant::Filters() const {
  std::lock_guard lock(listLock_);
  return list_;
}

void TKillWant::SelectForGroup(std::string_view group, uint8_t mask) {
  std::vector<TFilter> selected;
  {
    std::lock_guard lock(listLock_);
    const TDateTime now = now_();
    for (const TFilter& f : list_)
      if (f->ExpireBy(now) && (f->Flags() & mask) && f->AppliesToGroup(group)) selected.push_back(f);
  }
  std::unique_lock lock(selectionLock_);
  selection_.swap(selected);
}

uint32_t TKillWant::Apply(std::string_view text, uint8_t header, int8_t& score, std::string& chosenDir) const {
  std::shared_lock lock(selectionLock_);
  uint32_t result = 0;
  for (const TFilter& f : selection_) {
    if (!f->Has(header) || !f->Expression.Matches(text)) continue;
    const uint32_t action = f->Action();
    result |= action;
    score = static_cast<int8_t>(std::clamp(score + f->Score, -128, 127));
    if ((action & FlagBit(afMarked)) || ((action & FlagBit(afWanted)) && !(result & FlagBit(afMarked))))
      chosenDir = f->DownloadDir;
  }
  return result;
}

std::string TKillWant::BuildExpression(const FKWDialogSeed& seed, uint8_t flags) {
  std::string expression;
  auto append = [&](uint8_t flag, const std::string& quoted) {
    if (!(flags & flag) || quoted.empty()) return;
    if (!expression.empty()) expression += '|';
    expression += quoted;
  };
  append(kwSubject, seed.quotedSubject);
  append(kwAuthor, seed.quotedAuthor);
  append(kwFilename, seed.quotedFileName);
  return expression;
}

TKillWant::TFilter TKillWant::FilterFromArticle(bool want, std::string_view subject, std::string_view author,
                                                std::string_view downloadDir, std::string_view group,
                                                std::string_view fileName, FKWDialogSeed& seed) const {
  auto filter = std::make_shared<TKWItem>();
  filter->Include(want ? kwWant : kwKill);
  seed.caption = want ? Tr("Create a new Want filter") : Tr("Create a new Kill filter");
  seed.isNew = true;
  seed.fromArticle = true;
  seed.quotedSubject = TPerlre::QuoteRegex(subject);
  seed.quotedAuthor = TPerlre::QuoteRegex(author);
  seed.quotedFileName = TPerlre::QuoteRegex(fileName);
  filter->DownloadDir = std::string(downloadDir);
  try {
    if (!group.empty()) filter->Groups.SetPattern(TPerlre::QuoteRegex(group));
    if (subject.empty()) filter->Exclude(kwSubject);
    if (author.empty()) filter->Exclude(kwAuthor);
    if (fileName.empty()) filter->Exclude(kwFilename);
    const std::string expression = BuildExpression(seed, filter->Flags());
    if (!expression.empty()) filter->Expression.SetPattern(expression);
  } catch (const EPerlRe& e) {
    // Quoted texts always compile; a library failure leaves the dialog to show the error.
    LogException(e, "TKillWant.NewFilterFromArticle");
  }
  return filter;
}

bool TKillWant::NewFilterFromArticle(bool want, std::string_view subject, std::string_view author,
                                     std::string_view downloadDir, std::string_view group,
                                     std::string_view fileName) {
  FKWDialogSeed seed;
  TFilter filter = FilterFromArticle(want, subject, author, downloadDir, group, fileName, seed);
  if (!editor_ || !editor_(*filter, seed)) return false;
  Add(filter);
  Save();
  return true;
}

bool TKillWant::EditFilter(bool want, const TKWItem* existing) {
  if (!editor_) return false;
  FKWDialogSeed seed;
  seed.isNew = existing == nullptr;
  TFilter edited;
  if (existing) {
    edited = existing->Clone();
    seed.caption = want ? Tr("Configure a Want filter") : Tr("Configure a Kill filter");
  } else {
    edited = std::make_shared<TKWItem>();
    edited->Include(want ? kwWant : kwKill);
    seed.caption = want ? Tr("Create a new Want filter") : Tr("Create a new Kill filter");
  }
  if (!editor_(*edited, seed)) return false;
  if (existing) Replace(existing, edited);
  else Add(edited);
  Save();
  return true;
}

void TKillWant::SetEditor(TKWFilterEditor editor) {
  std::lock_guard lock(listLock_);
  editor_ = std::move(editor);
}

}  // namespace zev
