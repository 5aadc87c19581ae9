#pragma once
// TKillWant: the program's one set of kill and want filters. Header retrieval applies them
// when it stores a header text into an article that did not have it yet; they do nothing to
// headers already stored. Kill and want filters live in one list, in load and creation
// order, and are stored in "KillFile.ini" and "WantFile.ini" in the data directory.
//
// Threads: the list (Add, Remove, Replace, Save, SelectForGroup, CountOfKind, ItemOfKind)
// and the selection (Apply) have locks of their own. Filters are shared: the selection
// keeps the filters of the running pass alive even when the user removes them meanwhile.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "filters/KWItem.h"

namespace zev {

class TZevIniFile;

// What the filter dialog is opened with, besides the filter it edits.
struct FKWDialogSeed {
  std::string caption;
  bool isNew = false;
  // Set when the dialog was opened for an article: the quoted texts from which ticking
  // Subject, Author or Filename rebuilds the expression (TKillWant::BuildExpression).
  bool fromArticle = false;
  std::string quotedSubject, quotedAuthor, quotedFileName;
};

// Shows the filter dialog (the user interface installs it); true when the user confirmed
// and the filter holds the edited values.
using TKWFilterEditor = std::function<bool(TKWItem& filter, const FKWDialogSeed& seed)>;

class TKillWant {
 public:
  using TFilter = std::shared_ptr<TKWItem>;

  // `dataDir` ends with a path separator.
  explicit TKillWant(std::string dataDir);

  // Reads "KillFile.ini", then "WantFile.ini", appending their filters.
  void Load();
  // Writes both files from the list. Raises EFCreateError when a file cannot be written;
  // the old file then stays as it was.
  void Save();
  void Add(TFilter filter);
  void Remove(const TKWItem* filter);
  // Puts an edited copy in the place of `old` (or appends it when `old` is gone).
  void Replace(const TKWItem* old, TFilter edited);
  int CountOfKind(bool want) const;
  TFilter ItemOfKind(bool want, int n) const;
  std::vector<TFilter> Filters() const;

  // Fills the selection with the active filters that test a header of `mask` and apply
  // to the newsgroup; expired filters lose their active flag and expiry on the way.
  void SelectForGroup(std::string_view group, uint8_t mask);
  // Tests the selected filters that test `header` (kwSubject, kwAuthor or kwFilename)
  // against the text. Returns the union of the matching filters' actions; adds their
  // scores to `score`, each sum held within -128..127; sets `chosenDir` to the download
  // directory of the last matching auto-mark filter or, without one, of the last matching
  // want filter (an empty directory replaces too). `chosenDir` is the caller's, so that
  // passes on several connections never see each other's choice.
  uint32_t Apply(std::string_view text, uint8_t header, int8_t& score, std::string& chosenDir) const;

  // Opens the filter dialog for a new filter prefilled from an article (any text may be
  // empty); true when the user confirmed and the filter was added and saved.
  bool NewFilterFromArticle(bool want, std::string_view subject, std::string_view author,
                            std::string_view downloadDir, std::string_view group, std::string_view fileName);
  // Opens the dialog for a new empty filter of the kind, or for a copy of an existing one.
  // On confirmation the filter is added (or the copy replaces the original) and the set saved.
  bool EditFilter(bool want, const TKWItem* existing);
  void SetEditor(TKWFilterEditor editor);

  // The new filter of NewFilterFromArticle, before the dialog: kind, action texts, the
  // groups expression and the expression built from the quoted texts.
  TFilter FilterFromArticle(bool want, std::string_view subject, std::string_view author, std::string_view downloadDir,
                            std::string_view group, std::string_view fileName, FKWDialogSeed& seed) const;
  // The expression of a dialog opened for an article: the quoted subject, author and file
  // name whose boxes are ticked and which exist, joined by "|".
  static std::string BuildExpression(const FKWDialogSeed& seed, uint8_t flags);

  // Tests: the clock that decides expiry.
  void SetClock(std::function<TDateTime()> now) { now_ = std::move(now); }
  const std::string& DataDir() const { return dataDir_; }

 private:
  void LoadFile(const std::string& name, uint8_t kind);
  void SaveFile(const std::string& name, uint8_t kind);
  TFilter LoadSection(TZevIniFile& ini, const std::string& section, uint8_t kind, TDateTime now) const;

  std::string dataDir_;
  std::function<TDateTime()> now_;
  TKWFilterEditor editor_;
  mutable std::mutex listLock_;
  std::vector<TFilter> list_;
  mutable std::shared_mutex selectionLock_;
  std::vector<TFilter> selection_;
};

// Created by start-up after the view filters.
extern TKillWant* gKillWant;

}  // namespace zev
