#include "core/Format.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/Intl.h"
#include "core/TextUtil.h"

namespace zev {
namespace {

std::string Fixed(double value, int decimals, char decimalPoint) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  std::string text(buf, ec == std::errc() ? end : buf);
  if (auto dot = text.find('.'); dot != std::string::npos) text[dot] = decimalPoint;
  return text;
}

std::string SizeText(uint64_t kb, char decimalPoint) {
  const char* gb = Tr("GB");
  const char* mb = Tr("MB");
  if (kb >= 104857600) return std::to_string(kb / 1048576) + " " + gb;
  if (kb >= 10485760) return Fixed(static_cast<double>(kb) / 1048576, 1, decimalPoint) + " " + gb;
  if (kb >= 972801) return Fixed(static_cast<double>(kb) / 1048576, 2, decimalPoint) + " " + gb;
  if (kb >= 102400) return std::to_string(kb / 1024) + " " + mb;
  if (kb >= 10240) return Fixed(static_cast<double>(kb) / 1024, 1, decimalPoint) + " " + mb;
  if (kb >= 951) return Fixed(static_cast<double>(kb) / 1024, 2, decimalPoint) + " " + mb;
  return std::to_string(kb) + " " + Tr("kB");
}

std::string GroupDigits(const std::string& digits, std::string_view sep) {
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

std::string Ago(const std::string& span) {
  if (span == "err!") return span;
  return FormatText(Tr("%s ago"), span.c_str());
}

int64_t SpanSeconds(TDateTime from, TDateTime to) { return std::llround((to - from) * kSecondsPerDay); }

}  // namespace

const FNumberSymbols& UserNumberSymbols() {
  static const FNumberSymbols symbols = [] {
    FNumberSymbols s;
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
      const char* point = nl_langinfo_l(RADIXCHAR, loc);
      const char* sep = nl_langinfo_l(THOUSEP, loc);
      if (point && point[0] && !point[1]) s.decimalPoint = point[0];
      if (sep) s.thousandsSep = sep;
      freelocale(loc);
    }
    return s;
  }();
  return symbols;
}

std::string IoErrorText(int code) {
  switch (code) {
    case 2: return Tr("File not found");
    case 3: return Tr("Path not found");
    case 4: return Tr("Too many open files");
    case 5: return Tr("Access denied");
    case 8: return Tr("Not Enough Memory");
    case 14: return Tr("Out of Memory");
    case 15: return Tr("Invalid Drive");
    case 32: return Tr("Sharing Violation");
    case 100: return Tr("Unexpected End Of File");
    case 101: return Tr("Disk full");
    case 106: return Tr("Invalid input");
    case 131: return Tr("Negative Seek");
    default: return Tr("I/O Error ") + std::to_string(code);
  }
}

std::string FormatSizeKB(uint32_t kb, char decimalPoint) { return SizeText(kb, decimalPoint); }
std::string FormatSizeKB(uint64_t kb, char decimalPoint) { return SizeText(kb, decimalPoint); }

std::string FormatThousands(uint64_t n, std::string_view sep) { return GroupDigits(std::to_string(n), sep); }

std::string FormatThousands(int64_t n, std::string_view sep) {
  if (n >= 0) return FormatThousands(static_cast<uint64_t>(n), sep);
  uint64_t magnitude = 0 - static_cast<uint64_t>(n);
  return "-" + GroupDigits(std::to_string(magnitude), sep);
}

std::string FormatTimeSpan(int64_t seconds) {
  if (seconds == std::numeric_limits<int64_t>::min()) return "err!";
  int64_t s = seconds < 0 ? -seconds : seconds;
  if (s >= 172800) return FormatText(Tr(">%lld days"), static_cast<long long>(s / 86400));
  std::string text;
  if (s >= 7200) text = FormatText(Tr("%lld hours "), static_cast<long long>(s / 3600));
  else if (s >= 3600) text = Tr("1 hour ");
  int64_t m = s % 3600;
  if (m >= 120) text += FormatText(Tr("%lld mins"), static_cast<long long>(m / 60));
  else if (m >= 60) text += Tr("1 min");
  else if (text.empty()) text = Tr("<1 min");
  return text;
}

std::string TimeSinceFileDate(uint32_t packedDate, TDateTime now) {
  if (packedDate == 0) return {};
  return Ago(FormatTimeSpan(SpanSeconds(UnpackFileDate(packedDate), now)));
}

std::string TimeSinceDateTime(TDateTime when, TDateTime now) {
  if (now - when > 100) return {};
  return Ago(FormatTimeSpan(SpanSeconds(when, now)));
}

std::string TimeUntilText(bool autoRefresh, int intervalCode, TDateTime lastRefresh, TDateTime now) {
  static const int kIntervalMinutes[] = {0, 24 * 60, 12 * 60, 6 * 60, 3 * 60, 60, 30};
  if (!autoRefresh || intervalCode < 1 || intervalCode > 6) return {};
  double interval = kIntervalMinutes[intervalCode] / (24.0 * 60);
  if (lastRefresh == 0) lastRefresh = now - interval;
  TDateTime next = lastRefresh + interval;
  if (next <= now) return Tr("now");
  return FormatText(Tr("In %s"), FormatTimeSpan(SpanSeconds(now, next)).c_str());
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '"': out += "&#34;"; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace zev
