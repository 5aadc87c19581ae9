#include "core/Busy.h"

#include <atomic>
#include <mutex>

namespace zev {
namespace {

std::atomic<int> gBusyDepth{0};
std::mutex gHookLock;
std::function<void(bool)> gHook;

void CallHook(bool busy) {
  std::lock_guard lock(gHookLock);
  if (gHook) gHook(busy);
}

}  // namespace

void BeginBusy() {
  if (gBusyDepth.fetch_add(1) == 0) CallHook(true);
}

void EndBusy() {
  int depth = gBusyDepth.load();
  while (depth > 0 && !gBusyDepth.compare_exchange_weak(depth, depth - 1)) {
  }
  if (depth == 1) CallHook(false);
}

int BusyDepth() { return gBusyDepth.load(); }

void SetBusyCursorHook(std::function<void(bool busy)> hook) {
  std::lock_guard lock(gHookLock);
  gHook = std::move(hook);
}

}  // namespace zev
