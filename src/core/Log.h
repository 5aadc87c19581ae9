#pragma once
// The error log and the dump log. Callable from any thread; one lock serialises every
// write to both logs and to the pending report.
//
// Line format: "<yyyy-mm-dd hh:mm:ss> (<version text>): <text>" ending in CR LF, local
// time. The date is written in the ISO form whatever the user's locale, so logs from any
// machine read and sort alike.
//
// Levels: 0 verbose, 1 normal, 2 always. Filtered by the configured warnings level
// (None / Normal / Verbose); before a level is set every entry is written.
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

namespace zev {

enum class TWarningsLevel { None, Normal, Verbose };

void SetWarningsLevel(TWarningsLevel level);
void SetErrorLogPath(const std::string& path);
std::string ErrorLogPath();
// The dump log is written only when a path is set (the "dump" switch).
void SetDumpLogPath(const std::string& path);
std::string DumpLogPath();
bool DumpEnabled();

// One entry in the error log and in the pending report for the main window's Errors page.
// An empty text implies withStack.
void LogError(std::string_view text, int level = 1, bool withStack = false);
// One entry in the given file (the dump log); no level test, no report, no stack.
void LogDump(const std::string& path, std::string_view text);
// One entry in the configured dump log, when it is enabled.
void LogDump(std::string_view text);

// The "Exception %s in %s!" convention: message, location ("TClass.Method"), optional
// context lines, then the stack trace of where the exception was raised (EZevError) or of
// the caller.
void LogException(const std::exception& e, std::string_view location, std::string_view context = {},
                  int level = 1);
// The entry for an exception nobody caught: "An unhandled exception  "<message>" was caught!".
void LogUnhandledException(std::string_view message);
// Makes std::terminate write that entry (with the stack) before the process ends.
void InstallUnhandledExceptionHandler();

// Text of a stack (innermost first) in the log's stack-trace layout.
std::string StackTraceText(const void* const* frames, size_t count);

// Takes and clears the pending report (the main window shows it on its Errors page). It
// holds at most about 64 KiB; the rest is replaced by one "[Too many errors...]" line.
std::string TakePendingReport();

}  // namespace zev
