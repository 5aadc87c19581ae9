#pragma once
// The error log and the dump log. Callable from any thread.
//
// Levels: 0 verbose, 1 normal, 2 always. Filtered by the configured warnings level
// (None / Normal / Verbose); before a level is set every entry is written.
#include <exception>
#include <string>
#include <string_view>

namespace zev {

enum class TWarningsLevel { None, Normal, Verbose };

void SetWarningsLevel(TWarningsLevel level);
void SetErrorLogPath(const std::string& path);
std::string ErrorLogPath();

// One entry in the error log and in the pending report for the main window's Errors page.
void LogError(std::string_view text, int level = 1, bool withStack = false);
// One entry in the given file (the dump log); no level test, no report, no stack.
void LogDump(const std::string& path, std::string_view text);

// The "Exception %s in %s!" convention: message, location ("TClass.Method"), optional
// context lines, then the stack trace of where the exception was raised.
void LogException(const std::exception& e, std::string_view location,
                  std::string_view context = {}, int level = 1);

// Text of a stack (innermost first) in the log's stack-trace layout.
std::string StackTraceText(const void* const* frames, size_t count);

// Takes and clears the pending report (the main window shows it on its Errors page).
std::string TakePendingReport();

}  // namespace zev
