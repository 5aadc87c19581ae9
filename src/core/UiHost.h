#pragma once
// What the engine asks of whoever shows it to the user: the Qt program answers with its
// splash window and message boxes, the command-line program on the terminal, and tests
// answer directly. Start-up, shutdown and the settings writer reach the user only through
// this interface, so they share one sequence whatever front end runs them.
#include <string>

namespace zev {

class TUiHost {
 public:
  virtual ~TUiHost() = default;
  // The status line of the splash window (or its equivalent).
  virtual void ShowStatus(const std::string& text) = 0;
  // A question with the buttons Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // The error question with the buttons "&Retry" (the default) and "&Ignore"; true for Retry.
  virtual bool AskRetryIgnore(const std::string& caption, const std::string& text) = 0;
  // Lets pending window messages run.
  virtual void ProcessEvents() = 0;
  // Keeps a message readable for `ms` milliseconds before the program goes on (or ends).
  virtual void Linger(int ms) = 0;
  // Start-up is over: the splash window goes away.
  virtual void CloseSplash() {}
  // Runs the event loop until the program is asked to close; returns the exit code.
  virtual int RunEventLoop() { return 0; }
};

}  // namespace zev
