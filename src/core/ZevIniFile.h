#pragma once
// The settings file: an INI file held entirely in memory and written back only on
// UpdateFile. Section and key names compare without regard to (ASCII) case; values are
// kept exactly as read, and sections, keys and comment lines this program does not know
// survive a load and a save unchanged and in their order.
//
// Callable from any thread: every operation takes the object's lock.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/AtomicFile.h"

namespace zev {

class TZevIniFile {
 public:
  // Creates the file's directory (with missing parents) first; raises EFCreateError
  // "Could not create directory for .ini file." when that fails. A missing file gives an
  // empty image; an unreadable one raises EZevError. An empty name gives an image that
  // belongs to no file (UpdateFile then raises).
  explicit TZevIniFile(std::string fileName, TFileOps& ops = DefaultFileOps());

  const std::string& FileName() const { return fileName_; }
  // The file's directory with a trailing "/" ("./" for a bare name).
  std::string Directory() const;

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // Decimal text with an optional sign; anything else (or out of range) gives `def`.
  int64_t ReadInteger(std::string_view section, std::string_view key, int64_t def) const;
  // Any non-zero number reads as true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  // Line breaks and NUL in names and values become blanks: a value can never start a new
  // key or section in the file.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // Two upper-case hex digits per byte, bytes in memory order. Reading fills `buffer`
  // with zeros first; bytes past the end of the text, and digits that are not hex, read 0.
  void ReadHexBytes(std::string_view section, std::string_view key, size_t size, void* buffer) const;
  void WriteHexBytes(std::string_view section, std::string_view key, size_t size, const void* buffer);

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(std::string_view section) const;

  // The image as file text, and replacing the image by parsed text.
  std::string Text() const;
  void SetText(std::string_view text);

  // Writes the whole image: to a temporary file in the same directory, flushed and
  // synced, then renamed over the old file. Raises EFCreateError on failure; the old
  // file is then untouched.
  void UpdateFile();

 private:
  struct TEntry {
    std::string key;    // the whole line when !hasValue (comments and other odd lines)
    std::string value;
    bool hasValue;
  };
  struct TSection {
    std::string name;   // "" for lines that stand before the first section header
    std::vector<TEntry> entries;
  };

  TSection* Find(std::string_view section);
  const TSection* Find(std::string_view section) const;
  TSection& FindOrAdd(std::string_view section);
  static const TEntry* FindKey(const TSection& s, std::string_view key);
  const std::string* Lookup(std::string_view section, std::string_view key) const;
  void Parse(std::string_view text);
  void Reindex();

  std::string fileName_;
  TFileOps& ops_;
  mutable std::mutex lock_;
  std::vector<TSection> sections_;
  std::unordered_map<std::string, size_t> index_;  // lower-cased name -> position
};

}  // namespace zev
