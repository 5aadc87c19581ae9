#pragma once
// A set of wildcard patterns compiled into one automaton that reads a name from its end
// towards its start. Patterns are stored reversed, so all patterns with a common ending
// (".jpg") share their states and a literal ending is followed without backtracking.
//
// Pattern syntax: "*" any run of characters (also none), "?" one character, "#" one
// digit, "<0-N>" one digit from 0 to N and "<N-9>" one digit from N to 9 (N from 1 to 8),
// "\" makes the next character literal. ASCII letters match in either case.
//
// A pattern matches a name when it matches the whole name, or a tail of it that directly
// follows a '-' or '_'.
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

class TMatcher {
 public:
  TMatcher();
  virtual ~TMatcher() = default;

  // False when the text is empty, holds a control character, or the same pattern is
  // already present; nothing changes then.
  bool AddPattern(std::string_view text);
  void AddPatterns(const std::vector<std::string>& texts);
  void Clear();
  // Replaces the list's contents with the text of every stored pattern. Each text, added
  // again, gives the same pattern.
  void ListPatterns(std::vector<std::string>& texts) const;
  // Safe to call from several threads at once while nobody changes the set.
  bool Matches(std::string_view subject) const;

  bool Modified() const { return modified_; }

 protected:
  void SetModified(bool modified) { modified_ = modified; }

 private:
  // One automaton edge: low 8 bits the symbol, upper 24 bits the next state. The whole
  // entry 0 marks the end of a pattern.
  using TEntry = uint32_t;
  struct TState {
    std::vector<TEntry> entries;
    // Characters that some edge other than "*" can consume, and those of literal edges:
    // the walk and the star step skip the entry search for every other character.
    std::bitset<256> consumable, literals;
    bool hasEnd = false;
    bool hasStar = false;
  };
  class TRun;

  static bool Translate(std::string_view text, std::vector<uint8_t>& symbols);
  const TEntry* FindExact(uint32_t state, uint8_t symbol) const;
  uint32_t NewState();
  void Link(uint32_t from, uint8_t symbol, uint32_t to);
  void CollectPatterns(uint32_t state, std::string& reversed, std::vector<std::string>& out) const;

  std::vector<TState> states_;
  bool modified_ = false;
};

}  // namespace zev
