#pragma once
// Names the calling thread for the system's tools (top -H, ps -L, gdb, perf): a busy
// newsreader runs a connection and a response handler per server slot.
#include <string>

namespace zev::platform {

// The kernel keeps 15 bytes of a name; longer names are cut there.
void NameThisThread(const std::string& name);

// The calling thread's name, empty when unknown.
std::string ThisThreadName();

}  // namespace zev::platform
