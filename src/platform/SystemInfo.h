#pragma once
// Facts about the machine that the engine sizes itself by.
#include <cstdint>
#include <string>

namespace zev::platform {

// Physical memory in bytes (sysconf), 0 when unknown.
uint64_t TotalPhysicalMemory();

// Free bytes for an unprivileged user on the file system holding `path`. The path need
// not exist: the nearest existing parent directory is asked. Returns false on error.
bool FreeDiskSpace(const std::string& path, uint64_t& freeBytes);

}  // namespace zev::platform
