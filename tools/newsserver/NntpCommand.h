#pragma once
// Reading what a client sends: the command line and its arguments. Everything here
// treats the input as hostile: lengths are bounded and numbers checked for overflow.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zev::testserver {

// RFC 3977 allows 512 bytes; we accept more because some clients send long XPAT patterns.
constexpr size_t kMaxCommandLine = 4096;
// Article numbers are at most 2^63 - 1 (RFC 3977 section 6).
constexpr uint64_t kMaxArticleNumber = 0x7FFFFFFFFFFFFFFFull;

struct FNntpCommand {
  std::string verb;               // upper-cased
  std::vector<std::string> args;  // as sent
};

// Splits a command line (without its line end) at blanks and tabs. False for a line
// that holds nothing but white space.
bool ParseNntpCommand(std::string_view line, FNntpCommand& out);

struct FArticleRange {
  uint64_t low = 0;
  uint64_t high = 0;  // kMaxArticleNumber for an open range "n-"
};

// A decimal article number of at most 2^63 - 1.
bool ParseArticleNumber(std::string_view text, uint64_t& out);
// "n", "n-" or "n-m".
bool ParseArticleRange(std::string_view text, FArticleRange& out);
// "<...>" of at most 250 characters without blanks or control characters.
bool IsMessageId(std::string_view text);

// NEWGROUPS date and time: "yyyymmdd" or "yymmdd", and "hhmmss", read as UTC (the
// optional "GMT" changes nothing for a server that keeps UTC). A two-digit year is
// taken from the century that puts it closest before or at `nowYear` (RFC 3977 7.3).
bool ParseNewgroupsTime(std::string_view date, std::string_view time, int nowYear, int64_t& out);

// Seconds since 1970 of a UTC civil date and time; no range checks.
int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second);

}  // namespace zev::testserver
