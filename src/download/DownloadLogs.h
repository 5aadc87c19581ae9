#pragma once
// The download logs a group may ask for, one line per completed file, each line ending in
// CR LF, appended (the file is created when missing):
//   "Zev.csv" in the data directory: name, size, CRC-32 (8 upper-case hex digits), the
//             download directory, and (configuration Flags bit 18) the subject; fields
//             quoted as CSV needs (CsvFile.h);
//   "Zev.log" in the download directory: name, TAB, subject, TAB, the group's abbreviation;
//   "descript.ion" in the download directory: name (in double quotes when it holds a
//             blank), a blank, the subject.
// Subjects come from posts: control characters in them become blanks, so no entry can
// split into two lines.
#include <cstdint>
#include <string>

namespace zev {

struct FDownloadLogLine {
  std::string name;
  uint64_t size = 0;
  uint32_t crc = 0;
  std::string dir;  // with a trailing "/"
  std::string subject;
  std::string groupAbbreviation;
};

struct FDownloadLogTargets {
  bool csv = false, log = false, descriptIon = false;  // gfCsvLog, gfLogFile, gfDescriptIon
  std::string dataDir;                                 // where "Zev.csv" goes, with a trailing "/"
  bool subjectInCsv = false;
};

std::string CsvLogLine(const FDownloadLogLine& line, bool withSubject);
std::string ZevLogLine(const FDownloadLogLine& line);
std::string DescriptIonLine(const FDownloadLogLine& line);

// Appends the enabled lines; a failing log is tried up to four times and logged each time.
void WriteDownloadLogs(const FDownloadLogTargets& targets, const FDownloadLogLine& line);

}  // namespace zev
