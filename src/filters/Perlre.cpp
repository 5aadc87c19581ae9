#include "filters/Perlre.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <memory>

namespace zev {

namespace {

// Subjects are header lines of at most a few hundred characters; a sound expression
// needs a tiny fraction of these budgets, a runaway one stops within milliseconds.
constexpr uint32_t kMatchLimit = 1'000'000;
constexpr uint32_t kDepthLimit = 10'000;
constexpr uint32_t kHeapLimitKiB = 16 * 1024;
constexpr size_t kJitStackStart = 32 * 1024;
constexpr size_t kJitStackMax = 1024 * 1024;

pcre2_code* Code(void* p) { return static_cast<pcre2_code*>(p); }

struct TMatchDataDeleter {
  void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};
struct TJitStackDeleter {
  void operator()(pcre2_jit_stack* s) const { pcre2_jit_stack_free(s); }
};

// Match data for the stateless Matches(): one per thread, never shared.
pcre2_match_data* ThreadMatchData() {
  static thread_local std::unique_ptr<pcre2_match_data, TMatchDataDeleter> data(
      pcre2_match_data_create(TPerlre::kOffsetPairs, nullptr));
  return data.get();
}

pcre2_jit_stack* ThreadJitStack(void*) {
  static thread_local std::unique_ptr<pcre2_jit_stack, TJitStackDeleter> stack(
      pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
  return stack.get();
}

// The limits are the same for every expression; the context is only read while
// matching, so one instance serves all threads.
const pcre2_match_context* LimitedContext() {
  static pcre2_match_context* context = [] {
    pcre2_match_context* c = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(c, kMatchLimit);
    pcre2_set_depth_limit(c, kDepthLimit);
    pcre2_set_heap_limit(c, kHeapLimitKiB);
    pcre2_jit_stack_assign(c, ThreadJitStack, nullptr);
    return c;
  }();
  return context;
}

std::string LibraryMessage(int code) {
  PCRE2_UCHAR buffer[256];
  int n = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (n < 0) return "error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

uint32_t LibraryOptions(uint32_t options) {
  uint32_t o = 0;
  if (options & TPerlre::kCaseless) o |= PCRE2_CASELESS;
  if (options & TPerlre::kDotAll) o |= PCRE2_DOTALL;
  return o;
}

int Run(pcre2_code* code, std::string_view text, size_t start, pcre2_match_data* data) {
  return pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), start, 0, data,
                     const_cast<pcre2_match_context*>(LimitedContext()));
}

}  // namespace

TPerlre::TPerlre(bool study, uint32_t options) : options_(options), study_(study) {}

TPerlre::~TPerlre() { Release(); }

void TPerlre::Release() {
  pcre2_code_free(Code(code_));
  code_ = nullptr;
}

void TPerlre::Compile(const std::string& text) {
  pattern_ = text;
  Release();
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                   LibraryOptions(options_), &error, &offset, nullptr);
  if (!code) {
    errorOffset_ = static_cast<int>(offset);
    errorText_ = LibraryMessage(error);
    throw EPerlRe("Perlre: " + errorText_);
  }
  errorOffset_ = 0;
  errorText_.clear();
  code_ = code;
  Reset();
  // Without JIT support the interpreter serves, under the same limits; that is slower
  // but not an error of the expression.
  if (study_) pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
}

void TPerlre::SetPattern(const std::string& text) {
  if (text != pattern_) Compile(text);
}

bool TPerlre::Matches(std::string_view text) const {
  if (!code_) return false;
  return Run(Code(code_), text, 0, ThreadMatchData()) > 0;
}

void TPerlre::SetSubject(std::string_view text) {
  subject_ = text;
  Reset();
}

void TPerlre::Reset() {
  matchStart_ = nextStart_ = 0;
  result_ = -1;
}

bool TPerlre::FindNext(size_t startOffset) {
  if (!code_) throw EPerlRe("Perlre: no regex defined");
  matchStart_ = std::min(nextStart_, subject_.size());
  std::string_view rest = subject_.substr(matchStart_);
  std::unique_ptr<pcre2_match_data, TMatchDataDeleter> data(pcre2_match_data_create(kOffsetPairs, nullptr));
  // A start beyond the text is an error to the library; it simply finds nothing here.
  result_ = startOffset > rest.size() ? PCRE2_ERROR_NOMATCH : Run(Code(code_), rest, startOffset, data.get());
  if (result_ <= 0) return false;
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
  for (int i = 0; i < 2 * kOffsetPairs; ++i)
    offsets_[i] = ov[i] == PCRE2_UNSET ? PCRE2_UNSET : matchStart_ + ov[i];
  nextStart_ = matchStart_ + ov[1];
  return true;
}

bool TPerlre::MatchAt(std::string_view text, size_t startOffset) {
  SetSubject(text);
  return FindNext(startOffset);
}

bool TPerlre::GroupSpan(int i, size_t& start, size_t& end) const {
  if (result_ <= 0 || i < 0 || i >= kOffsetPairs || i >= result_) return false;
  if (offsets_[2 * i] == PCRE2_UNSET) return false;
  start = offsets_[2 * i];
  end = offsets_[2 * i + 1];
  return true;
}

std::string TPerlre::QuoteRegex(std::string_view text) {
  static constexpr std::string_view kSpecial = "!$()*+,-.:=?[\\]^{|}";
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    if (kSpecial.find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

}  // namespace zev
