#pragma once
// The settings file: an INI file held entirely in memory and written back only on
// UpdateFile. Section and key names compare without regard to case; values are kept
// exactly as read, and sections and keys this program does not know survive a load and
// a save unchanged.
#include <cstdint>
#include <string>
#include <vector>

namespace zev {

class TZevIniFile {
 public:
  // Creates the file's directory (with missing parents) first; raises EFCreateError
  // "Could not create directory for .ini file." when that fails. A missing file gives an
  // empty image.
  explicit TZevIniFile(std::string fileName);

  const std::string& FileName() const;

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  int64_t ReadInteger(const std::string& section, const std::string& key, int64_t def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int64_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Two upper-case hex digits per byte, bytes in memory order; bytes past the end read 0.
  void ReadHexBytes(const std::string& section, const std::string& key, size_t size, void* buffer) const;
  void WriteHexBytes(const std::string& section, const std::string& key, size_t size, const void* buffer);

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(const std::string& section) const;

  // Writes the whole image: to a temporary file in the same directory, flushed and
  // synced, then renamed over the old file. Raises EFCreateError on failure; the old
  // file is then untouched.
  void UpdateFile();

 private:
  struct Impl;
  std::string fileName_;
  // (implementation detail owned by ZevIniFile.cpp)
};

}  // namespace zev
