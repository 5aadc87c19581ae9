#include "core/HeaderDate.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "core/Log.h"

namespace zev {
namespace {

constexpr double kHour = 1.0 / 24;

struct FZone {
  const char* name;
  double hours;
};

// Four-letter Australian and Alaskan names are included: news from there would otherwise
// be filed up to eleven hours off.
constexpr FZone kZones[] = {
    {"idlw", -12}, {"nt", -11},    {"hst", -10},  {"ahst", -10}, {"cat", -10},  {"yst", -9},    {"hdt", -9},
    {"akst", -9},  {"pst", -8},    {"ydt", -8},   {"akdt", -8},  {"mst", -7},   {"pdt", -7},    {"cst", -6},
    {"mdt", -6},   {"est", -5},    {"cdt", -5},   {"ast", -4},   {"edt", -4},   {"adt", -3},    {"at", -2},
    {"wat", -1},   {"gmt", 0},     {"wet", 0},    {"none", 0},   {"bst", 1},    {"ist", 1},     {"cet", 1},
    {"met", 1},    {"west", 1},    {"fst", 2},    {"sst", 2},    {"eet", 2},    {"cest", 2},    {"mest", 2},
    {"mesz", 2},   {"bt", 3},      {"eest", 3},   {"msk", 3},    {"msd", 4},    {"cct", 8},     {"awst", 8},
    {"jst", 9},    {"kst", 9},     {"kdt", 9},    {"acst", 9.5}, {"gst", 10},   {"aest", 10},   {"acdt", 10.5},
    {"aedt", 11},  {"nzst", 12},   {"idle", 12}};

constexpr const char* kWeekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LeadingLetters(std::string_view word) {
  std::string out;
  for (char c : word) {
    if (!IsLetter(c)) break;
    out += Lower(c);
  }
  return out;
}

// A weekday written without its comma would otherwise be read as a month ("sat" as
// September, "mon" as March).
bool IsWeekday(std::string_view word) {
  if (word.size() < 3) return false;
  for (const char* d : kWeekdays)
    if (Lower(word[0]) == d[0] && Lower(word[1]) == d[1] && Lower(word[2]) == d[2]) return true;
  return false;
}

struct FScan {
  uint16_t number = 0;
  bool digits = false;  // a number has been typed since the last reset
  int year = -1, month = 0, day = 0, hour = -1, minute = -1, second = -1;
  bool minus = false;
  size_t wordStart = std::string_view::npos;
  double zone = 0;

  void Reset() {
    number = 0;
    digits = false;
  }
  void Colon() {
    if (number < 24) {
      if (hour < 0) hour = number;
      else if (minute < 0) minute = number;
    } else if (number < 60 && minute < 0) {
      minute = number;
    }
    Reset();
  }
  void Sign(bool isMinus) {
    minus = isMinus;
    if (digits && number < 60 && second < 0) second = number;
    Reset();
  }
  // A number ended by a blank: its size tells what it is.
  void PlaceNumber() {
    if (!digits) return;  // runs of blanks ("Tue,  6 Feb") carry no number
    unsigned n = number;
    if (n == 0) {
      if (year < 0) year = 2000;
      else if (second < 0) second = 0;
    } else if (n <= 31) {
      if (day == 0) day = static_cast<int>(n);
      else if (year < 0) year = static_cast<int>(n) + 2000;
      else if (second < 0) second = static_cast<int>(n);
    } else if (n <= 59) {
      if (year < 0) year = static_cast<int>(n) + 2000;
      else if (second < 0) second = static_cast<int>(n);
    } else if (year < 0) {
      year = n < 1960 ? static_cast<int>(n) + 1900 : static_cast<int>(n);
    }
    Reset();
  }
  void SettleZone(std::string_view text, size_t end) {
    if (digits && number > 0) {
      if (second < 0) {
        second = number;
        zone = 0;
        return;
      }
      int h = number / 100, m = number % 100;
      zone = h < 24 && m < 60 ? (h + m / 60.0) * kHour : 0;
      if (minus) zone = -zone;
    } else if (wordStart != std::string_view::npos) {
      zone = ZoneOffset(text.substr(wordStart, end - wordStart));
    }
  }
};

// The offset from UTC in seconds in force at `seconds`, as LocalDateTimeFromUnix applies it.
int64_t ZoneOffsetAt(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
}

// Zone changes fall on quarter hours, far apart; a few slots keep dates that alternate
// between nearby periods (parts posted over days) from evicting each other.
class TLocalOffsets {
 public:
  TDateTime Convert(int64_t seconds) {
    const int64_t bucket = seconds / kBucket - (seconds % kBucket < 0);
    FSlot& slot = slots_[static_cast<uint64_t>(bucket) % slots_.size()];
    const uint32_t generation = LocalZoneGeneration();
    if (slot.bucket != bucket || slot.generation != generation || !slot.valid) {
      const int64_t start = bucket * kBucket, offset = ZoneOffsetAt(start);
      if (offset != ZoneOffsetAt(start + kBucket - 1)) return LocalDateTimeFromUnix(seconds);
      slot = FSlot{bucket, offset, generation, true};
    }
    return UtcDateTimeFromUnix(seconds + slot.offset);
  }

 private:
  static constexpr int64_t kBucket = 15 * 60;
  struct FSlot {
    int64_t bucket = 0, offset = 0;
    uint32_t generation = 0;
    bool valid = false;
  };
  std::array<FSlot, 16> slots_{};
};

}  // namespace

TDateTime CachedLocalDateTimeFromUnix(int64_t seconds) {
  thread_local TLocalOffsets offsets;
  return offsets.Convert(seconds);
}

int MonthFromName(std::string_view word) {
  auto at = [&](size_t i) { return i < word.size() ? Lower(word[i]) : '\0'; };
  switch (at(0)) {
    case 'a': return at(1) == 'p' ? 4 : 8;
    case 'd': return 12;
    case 'f': return 2;
    case 'j': return at(1) == 'a' ? 1 : at(2) == 'n' ? 6 : 7;
    case 'm': return at(2) == 'y' ? 5 : 3;
    case 'n': return 11;
    case 'o': return 10;
    case 's': return 9;
    default: return 0;
  }
}

double ZoneOffset(std::string_view word) {
  std::string name = LeadingLetters(word);
  if (name.rfind("ut", 0) == 0) return 0;
  for (const FZone& z : kZones)
    if (name == z.name) return z.hours * kHour;
  size_t end = word.find_first_of("\r)");
  LogError("Unrecognized timezone: " + std::string(word.substr(0, end)), 0);
  return 0;
}

TDateTime ParseHeaderDate(std::string_view text) {
  if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  if (text.empty() || text.rfind("(none)", 0) == 0) return NowLocal();
  FScan s;
  size_t pos = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c >= '0' && c <= '9') {
      s.number = static_cast<uint16_t>(s.number * 10 + (c - '0'));
      s.digits = true;
    } else if (c == ':') {
      s.Colon();
    } else if (c == '+' || c == '-') {
      s.Sign(c == '-');
    } else if (c == ',') {
      s.wordStart = std::string_view::npos;
      if (pos + 1 < text.size() && text[pos + 1] == ' ') ++pos;
    } else if (IsLetter(c)) {
      if (s.wordStart == std::string_view::npos) s.wordStart = pos;
    } else if (c == ' ') {
      if (s.wordStart != std::string_view::npos) {
        const std::string_view word = text.substr(s.wordStart, pos - s.wordStart);
        if (s.month == 0 && !IsWeekday(word)) s.month = MonthFromName(word);
        s.wordStart = std::string_view::npos;
      } else {
        s.PlaceNumber();
      }
    } else if (c == '\t' || c == '\r') {
      s.SettleZone(text, pos);
      break;
    }
  }
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(s.year, s.month, s.day, date)) {
    LogError("Unable to parse time \"" + std::string(text.substr(0, pos)) + "\"!", 0);
    return NowLocal();
  }
  if (TryEncodeTime(s.hour, s.minute, s.second, time)) date += time;
  return CachedLocalDateTimeFromUnix(UnixFromUtcDateTime(date - s.zone));
}

}  // namespace zev
