#pragma once
// The file patterns a downloaded file must match before it is opened with the desktop's
// default application without asking first (settings key "ExePatterns").
#include "filters/IniMatcher.h"

namespace zev {

class TExeMatcher : public TIniMatcher {
 public:
  static constexpr const char* kDefaultPatterns =
      "*.jpg,*.jpeg,*.gif,*.mp3,*.txt,*.csv,*.nfo,*.zip,*.rar,*.mpg,*.avi,*.mov,*.ram,*.rm,*.ra,*.wav,*.mpeg,*.png";

  TExeMatcher() : TIniMatcher("ExePatterns", kDefaultPatterns) {}
};

// Created and loaded by the start-up sequence; used by the user-interface thread only.
extern TExeMatcher* gExeMatcher;

}  // namespace zev
