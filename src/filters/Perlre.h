#pragma once
// One compiled Perl-compatible regular expression (PCRE2, 8-bit, JIT-compiled when
// studied) with the state of a running search.
//
// Threads: Matches() is const and may run on several threads at once, each with its own
// match data; Compile/SetPattern must not run while another thread matches (the owner
// of a filter set changes expressions under its exclusive lock). The search state of
// SetSubject/FindNext/MatchAt belongs to one thread at a time.
//
// Every match runs with a match limit and a depth limit: an expression that would
// backtrack for ages on a hostile subject answers "no match" instead of stalling the
// thread that stores headers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Error.h"

namespace zev {

// Raised by TPerlre; the message begins with "Perlre: ".
class EPerlRe : public EZevError {
 public:
  using EZevError::EZevError;
};

class TPerlre {
 public:
  // Option bits of the constructor.
  static constexpr uint32_t kCaseless = 1;
  static constexpr uint32_t kDotAll = 2;
  // Pairs of the offset vector: the whole match and up to 13 groups.
  static constexpr int kOffsetPairs = 14;

  explicit TPerlre(bool study = true, uint32_t options = kCaseless);
  ~TPerlre();
  TPerlre(const TPerlre&) = delete;
  TPerlre& operator=(const TPerlre&) = delete;

  // Stores the text and compiles it. A failure raises EPerlRe ("Perlre: " and the
  // library's message) and leaves nothing compiled; the text stays stored, so SetPattern
  // with the same text does not try again.
  void Compile(const std::string& text);
  // Compile() only when the text differs from the stored one (exact comparison).
  void SetPattern(const std::string& text);
  const std::string& Pattern() const { return pattern_; }
  bool IsCompiled() const { return code_ != nullptr; }
  int ErrorOffset() const { return errorOffset_; }
  const std::string& ErrorText() const { return errorText_; }

  // True when the expression matches somewhere in the text; false with nothing
  // compiled, on no match, and when a limit stopped the match.
  bool Matches(std::string_view text) const;

  // The search state. The caller keeps the subject alive while searching.
  void SetSubject(std::string_view text);
  void Reset();
  // Searches from the next search start on; raises EPerlRe "Perlre: no regex defined"
  // when nothing is compiled.
  bool FindNext(size_t startOffset);
  bool MatchAt(std::string_view text, size_t startOffset);
  // The library's result of the last FindNext, -1 after Reset: the number of offset pairs
  // set, 0 for a match with more groups than pairs, negative for none.
  int MatchResult() const { return result_; }
  // Offsets into the subject of group `i` (0 = the whole match) of the last successful
  // FindNext; false when that group did not take part.
  bool GroupSpan(int i, size_t& start, size_t& end) const;

  // A copy of the text with each character that has a meaning in an expression
  // (! $ ( ) * + , - . : = ? [ \ ] ^ { | }) escaped, so it matches itself literally.
  static std::string QuoteRegex(std::string_view text);

 private:
  void Release();

  uint32_t options_;
  bool study_;
  std::string pattern_;
  void* code_ = nullptr;  // pcre2_code_8, kept out of this header
  bool jitted_ = false;
  int errorOffset_ = 0;
  std::string errorText_;

  std::string_view subject_;
  size_t matchStart_ = 0;
  size_t nextStart_ = 0;
  int result_ = -1;
  size_t offsets_[2 * kOffsetPairs] = {};
};

}  // namespace zev
