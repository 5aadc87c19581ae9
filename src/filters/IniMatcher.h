#pragma once
// A pattern set kept as one comma-text key of the settings section "Config".
#include <string>

#include "filters/Matcher.h"

namespace zev {

class TConfig;

class TIniMatcher : public TMatcher {
 public:
  TIniMatcher(std::string key, std::string defaultValue);

  // Adds the patterns of the key's value, or of the default when the key is absent, to
  // the set (the set is not cleared first); afterwards the set counts as unmodified.
  void Load(const TConfig& config);
  // Only when modified: writes the listed patterns as comma text under the key and has
  // the settings file written to disk at once. The set stays modified.
  void Save(TConfig& config);

  const std::string& Key() const { return key_; }

 private:
  std::string key_;
  std::string default_;
};

}  // namespace zev
