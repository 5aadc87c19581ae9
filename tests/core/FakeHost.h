#pragma once
// A TUiHost that records what the engine showed and answers from a script.
#include <deque>
#include <string>
#include <vector>

#include "core/UiHost.h"

namespace zev::test {

class TFakeHost : public TUiHost {
 public:
  void ShowStatus(const std::string& text) override { statuses.push_back(text); }
  bool AskYesNo(const std::string& text) override { return Answer(text); }
  bool AskRetryIgnore(const std::string&, const std::string& text) override { return Answer(text); }
  void ProcessEvents() override {}
  void Linger(int ms) override { lingered += ms; }

  std::deque<bool> answers;  // consumed front first; false once empty
  std::vector<std::string> questions, statuses;
  int lingered = 0;

 private:
  bool Answer(const std::string& text) {
    questions.push_back(text);
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
};

}  // namespace zev::test
