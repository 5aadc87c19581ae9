#include "platform/ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace zev::platform {

bool MakeThisThreadBackground() {
  sched_param param{};
  // For a thread, pid 0 names the caller itself: only this thread changes class.
  if (::sched_setscheduler(0, SCHED_IDLE, &param) == 0) return true;
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19) == 0;
}

}  // namespace zev::platform
