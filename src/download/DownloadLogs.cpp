#include "download/DownloadLogs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Error.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "download/CsvFile.h"

namespace zev {

namespace {

constexpr int kAttempts = 4;

std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  return text;
}

void Append(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw EZevError(FormatText("Cannot open \"%s\": %s", path.c_str(), std::strerror(errno)));
  const ssize_t n = ::write(fd, text.data(), text.size());
  const int code = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(text.size()))
    throw EZevError(FormatText("Cannot write \"%s\": %s", path.c_str(), std::strerror(n < 0 ? code : ENOSPC)));
}

void AppendWithRetry(const std::string& path, const std::string& text, const char* location) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    try {
      Append(path, text);
      return;
    } catch (const std::exception& e) {
      LogException(e, location, FormatText(" (Attempt %d of %d)", attempt, kAttempts));
    }
  }
}

}  // namespace

std::string CsvLogLine(const FDownloadLogLine& line, bool withSubject) {
  std::string text = CsvField(line.name) + "," + std::to_string(line.size) + "," + FormatText("%08X", line.crc) + "," +
                     CsvField(line.dir) + ",";
  if (withSubject) text += CsvField(OneLine(line.subject));
  return text + "\r\n";
}

std::string ZevLogLine(const FDownloadLogLine& line) {
  return line.name + "\t" + OneLine(line.subject) + "\t" + OneLine(line.groupAbbreviation) + "\r\n";
}

std::string DescriptIonLine(const FDownloadLogLine& line) {
  const std::string name = line.name.find(' ') != std::string::npos ? "\"" + line.name + "\"" : line.name;
  return name + " " + OneLine(line.subject) + "\r\n";
}

void WriteDownloadLogs(const FDownloadLogTargets& targets, const FDownloadLogLine& line) {
  if (targets.csv && !targets.dataDir.empty())
    AppendWithRetry(targets.dataDir + "Zev.csv", CsvLogLine(line, targets.subjectInCsv), "TDecoder.WriteLog|Zev.csv");
  if (targets.log) AppendWithRetry(line.dir + "Zev.log", ZevLogLine(line), "TDecoder.WriteLog|Zev.log");
  if (targets.descriptIon)
    AppendWithRetry(line.dir + "descript.ion", DescriptIonLine(line), "TDecoder.WriteLog|descript.ion");
}

}  // namespace zev
