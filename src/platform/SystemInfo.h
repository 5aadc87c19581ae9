#pragma once
// Facts about the machine that the engine sizes itself by.
#include <cstdint>
#include <string>

namespace zev::platform {

// Physical memory in bytes (sysconf), 0 when unknown.
uint64_t TotalPhysicalMemory();

// Size of a regular file, or 0 when it is missing, not a regular file, or 4 GiB or larger
// (callers that use it keep sizes in 32 bits).
uint32_t FileSize32(const std::string& path);

// Free bytes for an unprivileged user on the file system holding `path`. The path need
// not exist: the nearest existing parent directory is asked. Returns false on error.
bool FreeDiskSpace(const std::string& path, uint64_t& freeBytes);

}  // namespace zev::platform
