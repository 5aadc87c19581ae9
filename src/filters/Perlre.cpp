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
constexpr size_t kJitStackMax = 512 * 1024;

pcre2_code* Code(void* p) { return static_cast<pcre2_code*>(p); }

struct TMatchDataDeleter {
  void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};

// What a thread needs to run expressions, never shared with another thread: the match
// data of Matches() (only "whether" is asked, so one offset pair suffices and the library
// has the least to copy), a JIT stack, and the context that carries the limits and
// hands that stack to the JIT code.
class TThreadMatchState {
 public:
  TThreadMatchState()
      : data_(pcre2_match_data_create(1, nullptr)),
        stack_(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr)),
        context_(pcre2_match_context_create(nullptr)) {
    pcre2_set_match_limit(context_, kMatchLimit);
    pcre2_set_depth_limit(context_, kDepthLimit);
    pcre2_set_heap_limit(context_, kHeapLimitKiB);
    if (stack_) pcre2_jit_stack_assign(context_, nullptr, stack_);
  }
  ~TThreadMatchState() {
    pcre2_match_context_free(context_);
    pcre2_jit_stack_free(stack_);
    pcre2_match_data_free(data_);
  }
  TThreadMatchState(const TThreadMatchState&) = delete;
  TThreadMatchState& operator=(const TThreadMatchState&) = delete;

  pcre2_match_data* Data() const { return data_; }
  pcre2_match_context* Context() const { return context_; }

 private:
  pcre2_match_data* data_;
  pcre2_jit_stack* stack_;
  pcre2_match_context* context_;
};

TThreadMatchState& ThreadState() {
  static thread_local TThreadMatchState state;
  return state;
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

// The JIT entry skips the argument checks of the general one (the arguments are ours);
// an expression that outgrows the JIT stack is run again by the interpreter, whose
// limits are counted differently, rather than being reported as not matching.
int Run(pcre2_code* code, bool jitted, std::string_view text, size_t start, pcre2_match_data* data) {
  auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
  pcre2_match_context* context = ThreadState().Context();
  if (jitted) {
    int rc = pcre2_jit_match(code, subject, text.size(), start, 0, data, context);
    if (rc != PCRE2_ERROR_JIT_STACKLIMIT) return rc;
  }
  return pcre2_match(code, subject, text.size(), start, PCRE2_NO_JIT, data, context);
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
  jitted_ = false;
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
  if (study_) jitted_ = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;
}

void TPerlre::SetPattern(const std::string& text) {
  if (text != pattern_) Compile(text);
}

bool TPerlre::Matches(std::string_view text) const {
  if (!code_) return false;
  // 0 is a match whose groups did not fit the offset vector.
  return Run(Code(code_), jitted_, text, 0, ThreadState().Data()) >= 0;
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
  result_ = startOffset > rest.size() ? PCRE2_ERROR_NOMATCH : Run(Code(code_), jitted_, rest, startOffset, data.get());
  if (result_ < 0) return false;
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
  int pairs = result_ == 0 ? kOffsetPairs : result_;  // 0: more groups than pairs
  if (result_ < 0 || i < 0 || i >= pairs) return false;
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
