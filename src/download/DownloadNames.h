#pragma once
// Names of the files the decoder writes: names taken from posts, free names beside an
// existing file, and the part files of a multi-part file.
//
// Part files of file N with T parts (d = digits of T): N.p for one part, N.a-b for the
// parts a..b joined, numbers written with d digits ("pic.jpg.07", "pic.jpg.03-07"). Only
// digits (and one hyphen between them) may follow "N.", so "file.txt.02" is never taken
// as a part of "file".
#include <cstdint>
#include <string>
#include <string_view>

namespace zev {

class TDecodeFs;

// Longest name the decoder gives a file before its part suffix (".0001-0100") or a free
// name's "(n)": the whole stays within the file system's 255 bytes.
constexpr size_t kMaxBaseName = 232;

// A name from a post (yEnc "name=", uuencode "begin", MIME "name=", a subject): everything
// up to the last "/" or "\" is dropped and the rest goes through the name cleaner, so the
// file always lands inside its download directory. Never empty.
std::string CleanPostName(std::string_view raw);

// A name whose keyword was written with blanks between its letters may have lost its own
// blanks too: the subject's spelling of it (found from the end, blanks ignored) wins.
std::string RespellFromSubject(std::string_view name, std::string_view subject);

// `name`, or when it exists in `dir`, the first free "base(n).ext" for n = 2, 3, ...
// (an existing "(n)" suffix of the base is replaced, not added to).
std::string MakeUniqueName(TDecodeFs& fs, const std::string& dir, const std::string& name);

struct FPartRange {
  uint32_t first = 0, last = 0;
};

int PartDigits(uint32_t total);
std::string PartFileName(std::string_view base, FPartRange range, uint32_t total);
// Whether `fileName` is a part file of `base`, and which parts it holds.
bool ParsePartFileName(std::string_view fileName, std::string_view base, FPartRange& range);

}  // namespace zev
