#include "core/Log.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "core/Error.h"
#include "core/Version.h"

namespace zev {
namespace {

std::mutex gLogLock;
std::string gErrorLogPath;
std::string gDumpLogPath;
std::string gPendingReport;
bool gReportOverflow = false;
std::atomic<int> gWarningsLevel{-1};  // -1: not configured yet, write everything
constexpr size_t kReportLimit = 65536;

std::string Timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

bool LevelPasses(int level) {
  int cfg = gWarningsLevel.load();
  if (cfg < 0 || level >= 2) return true;
  if (level == 1) return cfg != static_cast<int>(TWarningsLevel::None);
  return cfg == static_cast<int>(TWarningsLevel::Verbose);
}

void AppendLine(const std::string& path, const std::string& line) {
  if (path.empty()) return;
  if (FILE* f = std::fopen(path.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fwrite("\r\n", 1, 2, f);
    std::fclose(f);
  }
}

std::string EntryLine(std::string_view text) {
  std::string line = Timestamp();
  line += " (";
  line += VersionText();
  line += "): ";
  line += text;
  return line;
}

}  // namespace

void SetWarningsLevel(TWarningsLevel level) { gWarningsLevel = static_cast<int>(level); }

void SetErrorLogPath(const std::string& path) {
  std::lock_guard lock(gLogLock);
  gErrorLogPath = path;
}

std::string ErrorLogPath() {
  std::lock_guard lock(gLogLock);
  return gErrorLogPath;
}

void SetDumpLogPath(const std::string& path) {
  std::lock_guard lock(gLogLock);
  gDumpLogPath = path;
}

std::string DumpLogPath() {
  std::lock_guard lock(gLogLock);
  return gDumpLogPath;
}

bool DumpEnabled() { return !DumpLogPath().empty(); }

void LogDump(std::string_view text) {
  std::string line = EntryLine(text);
  std::lock_guard lock(gLogLock);
  AppendLine(gDumpLogPath, line);
}

std::string StackTraceText(const void* const* frames, size_t count) {
  std::string out = "Stack trace:\r\nPhysical Logical  Unit                (######) Routine";
  for (size_t i = 0; i < count; ++i) {
    Dl_info info{};
    const void* addr = frames[i];
    uintptr_t logical = reinterpret_cast<uintptr_t>(addr);
    std::string unit = "?", routine = "?";
    if (dladdr(addr, &info) && info.dli_fname) {
      logical -= reinterpret_cast<uintptr_t>(info.dli_fbase);
      unit = info.dli_fname;
      if (auto slash = unit.rfind('/'); slash != std::string::npos) unit = unit.substr(slash + 1);
      if (info.dli_sname) {
        int status = 0;
        char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
        routine = status == 0 && demangled ? demangled : info.dli_sname;
        std::free(demangled);
      }
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "\r\n%.8lx %.8lx ", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(addr)),
                  static_cast<unsigned long>(logical));
    out += buf;
    out += unit;
    out += '.';
    out += routine;
  }
  return out;
}

void LogError(std::string_view text, int level, bool withStack) {
  if (!LevelPasses(level)) return;
  if (text.empty()) withStack = true;
  std::string line = EntryLine(text);
  if (withStack) {
    auto frames = CaptureFrames(1);
    line += "\r\n";
    line += StackTraceText(frames.data(), frames.size());
  }
  std::lock_guard lock(gLogLock);
  AppendLine(gErrorLogPath, line);
  if (!gReportOverflow && gPendingReport.size() < kReportLimit) {
    gPendingReport += line;
    gPendingReport += "\r\n";
  } else if (!gReportOverflow) {
    gReportOverflow = true;
    gPendingReport += "[Too many errors, see error log for full report]\r\n";
  }
}

void LogDump(const std::string& path, std::string_view text) {
  std::string line = EntryLine(text);
  std::lock_guard lock(gLogLock);
  AppendLine(path, line);
}

void LogException(const std::exception& e, std::string_view location, std::string_view context, int level) {
  std::string text = "Exception ";
  text += e.what();
  text += " in ";
  text += location;
  text += "!";
  if (!context.empty()) {
    text += "\r\n";
    text += context;
  }
  text += "\r\n";
  if (auto* z = dynamic_cast<const EZevError*>(&e)) {
    text += StackTraceText(z->Frames().data(), z->Frames().size());
  } else {
    auto frames = CaptureFrames(1);
    text += StackTraceText(frames.data(), frames.size());
  }
  LogError(text, level, false);
}

void LogUnhandledException(std::string_view message) {
  std::string text = "An unhandled exception  \"";
  text += message;
  text += "\" was caught!\r\n";
  auto frames = CaptureFrames(1);
  text += StackTraceText(frames.data(), frames.size());
  LogError(text, 1, false);
}

void InstallUnhandledExceptionHandler() {
  std::set_terminate([] {
    std::string message = "unknown";
    if (std::exception_ptr e = std::current_exception()) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        message = ex.what();
      } catch (...) {
      }
    }
    LogUnhandledException(message);
    std::abort();
  });
}

std::string TakePendingReport() {
  std::lock_guard lock(gLogLock);
  std::string out;
  out.swap(gPendingReport);
  gReportOverflow = false;
  return out;
}

}  // namespace zev
