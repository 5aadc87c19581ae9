#pragma once
// The busy cursor: a nesting counter. The first BeginBusy shows the hourglass, the last
// EndBusy restores the cursor. The engine only counts; the window side installs the hook
// that changes the cursor (called with true on the way in, false on the way out).
#include <functional>

namespace zev {

void BeginBusy();
void EndBusy();  // an EndBusy without a matching BeginBusy is ignored
int BusyDepth();
void SetBusyCursorHook(std::function<void(bool busy)> hook);

// BeginBusy for the lifetime of a scope.
class TBusyScope {
 public:
  TBusyScope() { BeginBusy(); }
  ~TBusyScope() { EndBusy(); }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;
};

}  // namespace zev
