#pragma once
// SIGTERM and SIGINT lead to the normal close, so that the settings are saved. The signal
// handler only sets an atomic flag and writes one byte into a pipe; the Qt program watches
// the pipe's read end with a QSocketNotifier, the command-line program polls it, and
// anything else can block in Wait().
namespace zev {

class TTerminationSignal {
 public:
  // Installs the handlers (once per process; later calls do nothing).
  static void Install();
  // True once SIGTERM or SIGINT arrived (or Raise was called).
  static bool Requested();
  // Read end of the wake-up pipe; readable once a signal arrived. -1 before Install.
  static int WakeupFd();
  // Blocks until a signal arrives or `timeoutMs` passes (-1: no limit). True when requested.
  static bool Wait(int timeoutMs);
  // The same effect as a signal, for tests and for a close requested in the program.
  static void Raise();
};

}  // namespace zev
