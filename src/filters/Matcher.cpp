#include "filters/Matcher.h"

#include <algorithm>
#include <unordered_set>

namespace zev {

namespace {

constexpr uint8_t kEnd = 0;
constexpr uint8_t kLastRange = 16;  // 1..8: digits 0..N, 9..16: digits N-8..9
constexpr uint8_t kAnyDigit = 29;
constexpr uint8_t kAnyChar = 30;
constexpr uint8_t kAnyRun = 31;
constexpr size_t kStateLimit = size_t{1} << 24;  // the next-state field has 24 bits
constexpr size_t kInitialStates = 100;

bool IsWildcard(uint8_t symbol) {
  return (symbol >= 1 && symbol <= kLastRange) || (symbol >= kAnyDigit && symbol <= kAnyRun);
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool IsUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
uint8_t Symbol(uint32_t entry) { return static_cast<uint8_t>(entry & 0xFF); }
uint32_t Next(uint32_t entry) { return entry >> 8; }

// Whether one step of the symbol (not the any-run) can consume the character.
bool Consumes(uint8_t symbol, unsigned char c) {
  if (symbol == kAnyChar) return true;
  if (symbol == kAnyDigit) return IsDigit(c);
  if (symbol >= 1 && symbol <= 8) return c >= '0' && c <= '0' + symbol;
  if (symbol >= 9 && symbol <= kLastRange) return c >= '0' + (symbol - 8) && c <= '9';
  return symbol == c;
}

bool IsRangeStart(std::string_view t, size_t lt) {
  if (lt + 4 >= t.size()) return false;
  char first = t[lt + 1], third = t[lt + 3];
  return (first == '0' && third >= '1' && third <= '8') || (first >= '1' && first <= '8' && third == '9');
}

std::string SymbolText(uint8_t symbol) {
  if (symbol >= 1 && symbol <= 8) return std::string("<0-") + char('0' + symbol) + ">";
  if (symbol >= 9 && symbol <= kLastRange) return std::string("<") + char('0' + symbol - 8) + "-9>";
  if (symbol == kAnyDigit) return "#";
  if (symbol == kAnyChar) return "?";
  if (symbol == kAnyRun) return "*";
  char c = static_cast<char>(symbol);
  // A backslash must be doubled too, or the listed text would lose it when read back.
  if (c == '#' || c == '*' || c == '?' || c == '\\') return std::string("\\") + c;
  return std::string(1, c);
}

// The text of a stored pattern, symbols in pattern order. A literal "<" gets a backslash
// only where the text after it would read back as a digit range.
std::string PatternText(std::string_view symbols) {
  std::string text;
  std::vector<size_t> literalAngles;
  for (char sym : symbols) {
    if (sym == '<') literalAngles.push_back(text.size());
    text += SymbolText(static_cast<uint8_t>(sym));
  }
  for (auto it = literalAngles.rbegin(); it != literalAngles.rend(); ++it)
    if (IsRangeStart(text, *it)) text.insert(*it, 1, '\\');
  return text;
}

}  // namespace

// One call of Matches: the subject, and the pairs (unread length, state) already tried.
// A success ends the whole match at once, so a pair that is met again can only have
// failed: remembering the pairs keeps the star step polynomial instead of exponential.
class TMatcher::TRun {
 public:
  TRun(const std::vector<TState>& states, std::string_view subject) : states_(states), s_(subject) {}

  bool MatchTop() { return Walk(s_.size(), 0); }

 private:
  struct TMemo {
    std::vector<uint32_t> stamps;
    uint32_t epoch = 0;
    std::unordered_set<uint64_t> visited;  // when the table would be too large
  };
  static constexpr size_t kTableLimit = size_t{1} << 20;

  const std::vector<TState>& states_;
  std::string_view s_;
  TMemo* memo_ = nullptr;
  bool useTable_ = false;

  static TMemo& ThreadMemo() {
    static thread_local TMemo memo;
    return memo;
  }

  void StartMemo() {
    memo_ = &ThreadMemo();
    size_t cells = 2 * (s_.size() + 1) * states_.size();
    useTable_ = cells <= kTableLimit;
    if (!useTable_) {
      memo_->visited.clear();
      return;
    }
    if (memo_->stamps.size() < cells) memo_->stamps.resize(cells, 0);
    if (++memo_->epoch == 0) {
      std::fill(memo_->stamps.begin(), memo_->stamps.end(), 0);
      memo_->epoch = 1;
    }
  }

  // True the first time the pair is seen in this run. `star` keeps star steps apart from
  // walks that start in the state.
  bool FirstVisit(size_t n, uint32_t state, bool star) {
    if (!memo_) StartMemo();
    size_t key = ((n * states_.size()) + state) * 2 + (star ? 1 : 0);
    if (!useTable_) return memo_->visited.insert(key).second;
    if (memo_->stamps[key] == memo_->epoch) return false;
    memo_->stamps[key] = memo_->epoch;
    return true;
  }

  bool AtStart(const TState& st) {
    if (st.hasEnd) return true;
    for (TEntry e : st.entries)
      if (Symbol(e) == kAnyRun && Star(0, Next(e))) return true;
    return false;
  }

  // Match(n, state): the first n characters are unread. Literal edges are followed in a
  // loop; wildcard edges recurse, always into a deeper state of the tree, so the depth
  // of recursion is bounded by the longest pattern.
  bool Walk(size_t n, uint32_t state) {
    for (;;) {
      const TState& st = states_[state];
      if (n == 0) return AtStart(st);
      unsigned char c = static_cast<unsigned char>(s_[n - 1]);
      // A pattern may end at a '-' or '_' whatever else the state holds: which other
      // patterns share the state must not change the answer.
      if ((c == '-' || c == '_') && st.hasEnd) return true;
      const TEntry* follow = nullptr;
      for (const TEntry& e : st.entries) {
        uint8_t sym = Symbol(e);
        if (!IsWildcard(sym)) {
          // Wildcards come first; past them only a literal equal to c can still help.
          if (st.literals.test(c))
            for (const TEntry* l = &e; l != st.entries.data() + st.entries.size(); ++l)
              if (*l != kEnd && Symbol(*l) == c) follow = l;
          break;
        }
        if (sym == kAnyRun) {
          if (Star(n, Next(e))) return true;
        } else if (Consumes(sym, c) && Recurse(n - 1, Next(e))) {
          return true;
        }
      }
      if (!follow) return false;
      state = Next(*follow);
      --n;
    }
  }

  // A necessary condition for Walk(n, state), cheap enough to test before the memo: most
  // attempts of a star die on their very next character.
  bool MayContinue(size_t n, uint32_t state) const {
    const TState& st = states_[state];
    if (st.hasStar) return true;
    if (n == 0) return st.hasEnd;
    unsigned char c = static_cast<unsigned char>(s_[n - 1]);
    return st.consumable.test(c) || (st.hasEnd && (c == '-' || c == '_'));
  }

  bool Recurse(size_t n, uint32_t state) {
    return MayContinue(n, state) && FirstVisit(n, state, false) && Walk(n, state);
  }

  // The star may take any run of the last n unread characters; `t` is the state after it.
  bool Star(size_t n, uint32_t t) {
    // With nothing read yet the star can only be the root's (or follow it directly):
    // each such pair comes up once, so the memo is not needed for it.
    if (n != s_.size() && !FirstVisit(n, t, true)) return false;
    const TState& st = states_[t];
    if (st.hasEnd) return true;
    for (TEntry e : st.entries)
      if (Symbol(e) == kAnyRun && Star(n, Next(e))) return true;
    for (size_t p = 1; p <= n; ++p) {
      unsigned char c = static_cast<unsigned char>(s_[p - 1]);
      if (!st.consumable.test(c)) continue;
      for (TEntry e : st.entries) {
        uint8_t sym = Symbol(e);
        if (e != kEnd && sym != kAnyRun && Consumes(sym, c) && Recurse(p - 1, Next(e))) return true;
      }
    }
    return false;
  }
};

TMatcher::TMatcher() {
  states_.reserve(kInitialStates);
  states_.emplace_back();
}

bool TMatcher::Translate(std::string_view t, std::vector<uint8_t>& symbols) {
  symbols.clear();
  for (size_t i = 0; i < t.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    // Control characters share their values with the wildcard symbols and the end
    // marker; no file name holds one, so such a pattern is refused rather than misread.
    if (c < 32) return false;
    if (c == '*') {
      symbols.push_back(kAnyRun);
    } else if (c == '?') {
      symbols.push_back(kAnyChar);
    } else if (c == '#') {
      symbols.push_back(kAnyDigit);
    } else if (c == '<' && IsRangeStart(t, i)) {
      symbols.push_back(t[i + 1] == '0' ? static_cast<uint8_t>(t[i + 3] - '0') : static_cast<uint8_t>(t[i + 1] - '0' + 8));
      i += 4;
    } else if (c == '\\' && i + 1 < t.size()) {
      unsigned char lit = static_cast<unsigned char>(t[++i]);
      if (lit < 32) return false;
      symbols.push_back(lit);
    } else {
      symbols.push_back(c);
    }
  }
  return !symbols.empty();
}

const TMatcher::TEntry* TMatcher::FindExact(uint32_t state, uint8_t symbol) const {
  for (const TEntry& e : states_[state].entries)
    if (e != kEnd && Symbol(e) == symbol) return &e;
  return nullptr;
}

uint32_t TMatcher::NewState() {
  states_.emplace_back();
  return static_cast<uint32_t>(states_.size() - 1);
}

void TMatcher::Link(uint32_t from, uint8_t symbol, uint32_t to) {
  TState& st = states_[from];
  TEntry next = to << 8;
  auto addLiteral = [&](uint8_t c) {
    st.entries.push_back(next | c);
    st.literals.set(c);
    st.consumable.set(c);
  };
  if (IsWildcard(symbol)) {
    st.entries.insert(st.entries.begin(), next | symbol);
    if (symbol == kAnyRun) st.hasStar = true;
    if (symbol != kAnyRun)
      for (unsigned c = 0; c < 256; ++c)
        if (Consumes(symbol, static_cast<unsigned char>(c))) st.consumable.set(c);
  } else if (IsLower(symbol)) {
    addLiteral(symbol);
    addLiteral(static_cast<uint8_t>(symbol - 'a' + 'A'));
  } else if (IsUpper(symbol)) {
    addLiteral(symbol);
    addLiteral(static_cast<uint8_t>(symbol - 'A' + 'a'));
  } else {
    addLiteral(symbol);
  }
}

bool TMatcher::AddPattern(std::string_view text) {
  std::vector<uint8_t> symbols;
  if (!Translate(text, symbols)) return false;
  uint32_t state = 0;
  size_t left = symbols.size();
  while (left > 0) {
    const TEntry* e = FindExact(state, symbols[left - 1]);
    if (!e) break;
    state = Next(*e);
    --left;
  }
  if (left == 0 && states_[state].hasEnd) return false;
  if (states_.size() + left > kStateLimit) return false;
  while (left > 0) {
    uint32_t next = NewState();
    Link(state, symbols[--left], next);
    state = next;
  }
  states_[state].entries.push_back(kEnd);
  states_[state].hasEnd = true;
  modified_ = true;
  return true;
}

void TMatcher::AddPatterns(const std::vector<std::string>& texts) {
  for (const auto& t : texts) AddPattern(t);
}

void TMatcher::Clear() {
  if (states_.size() > 1 || !states_[0].entries.empty()) modified_ = true;
  states_.clear();
  states_.reserve(kInitialStates);
  states_.emplace_back();
}

void TMatcher::CollectPatterns(uint32_t state, std::string& reversed, std::vector<std::string>& out) const {
  for (TEntry e : states_[state].entries) {
    if (e == kEnd) {
      out.push_back(PatternText(std::string(reversed.rbegin(), reversed.rend())));
      continue;
    }
    uint8_t sym = Symbol(e);
    if (IsUpper(sym)) continue;
    reversed.push_back(static_cast<char>(sym));
    CollectPatterns(Next(e), reversed, out);
    reversed.pop_back();
  }
}

void TMatcher::ListPatterns(std::vector<std::string>& texts) const {
  texts.clear();
  std::string reversed;
  CollectPatterns(0, reversed, texts);
}

bool TMatcher::Matches(std::string_view subject) const {
  TRun run(states_, subject);
  return run.MatchTop();
}

}  // namespace zev
