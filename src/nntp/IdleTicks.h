#pragma once
// Manager ticks in a row during which no connection slot was busy. The main window's
// "close when finished" actions wait for it; any response block and any user input starts
// the count again.
#include <atomic>
#include <cstdint>

namespace zev {

inline std::atomic<uint32_t> gIdleTicks{0};

}  // namespace zev
