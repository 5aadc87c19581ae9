#pragma once
// The file of one server-group's offset map: the array itself, (count + 1) unsigned 32-bit
// little-endian values with the first article number first, no header; its size is
// 4 x (count + 1) bytes. It lives in the server's data directory, named after the group.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zev {

// The largest map this program keeps: about 64 million article numbers (256 MB). A group
// range beyond it is cut to its newest numbers, and a longer file is refused. Tests lower
// gMaxMapEntries to see the cap work without allocating that much.
constexpr uint64_t kMaxMapEntries = uint64_t{1} << 26;
extern std::atomic<uint64_t> gMaxMapEntries;

enum class TMapFileRead { Loaded, Missing, TooLarge };

// Reads the whole file into `values` (trailing bytes that do not make a whole value are
// ignored). Raises EZevError when the file exists but cannot be read.
TMapFileRead ReadMapFile(const std::string& path, std::vector<uint32_t>& values);
// Replaces the file atomically (temporary file, then rename); raises EFCreateError.
void WriteMapFile(const std::string& path, const std::vector<uint32_t>& values);

}  // namespace zev
