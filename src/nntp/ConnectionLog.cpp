#include "nntp/ConnectionLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "core/Error.h"
#include "core/Log.h"
#include "core/TextUtil.h"

namespace zev {

void TConnectionLog::Write(const std::string& text) const {
  try {
    const std::filesystem::path path(path_);
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    FILE* file = std::fopen(path_.c_str(), "ab");
    if (!file) throw EFCreateError(FormatText("Cannot open \"%s\": %s", path_.c_str(), std::strerror(errno)));
    char when[32] = "";
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(file, "%s: %s\r\n", when, text.c_str());
    std::fclose(file);
  } catch (const std::exception& e) {
    LogException(e, "TConnection.WriteLog");
  }
}

std::string LoggableCommand(const std::string& command) {
  return ContainsIgnoreCase(command, "authinfo pass") ? "authinfo pass ****" : command;
}

}  // namespace zev
