#pragma once
// Logging off and power control for "Shut down when finished". The program asks
// systemd-logind over the system bus; tests install a fake that records what was asked.
#include "core/ConfigNames.h"

namespace zev::ui {

class TPowerControl {
 public:
  virtual ~TPowerControl() = default;
  // Asks the system to carry out the method (smExit asks nothing). False when the system
  // refused or could not be reached; the reason is logged.
  virtual bool Perform(TShutdownMethod method) = 0;
};

// The control in force: logind unless a test installed another.
TPowerControl& PowerControl();
// Installs a control (nullptr: logind again) and returns the previous one.
TPowerControl* SetPowerControl(TPowerControl* control);

// org.freedesktop.login1: the manager's PowerOff, Reboot, Suspend and Hibernate, and the
// session's Terminate for logging off. Interactive, so that polkit may ask the user when
// the action needs authorisation.
class TLogindPowerControl : public TPowerControl {
 public:
  bool Perform(TShutdownMethod method) override;
};

}  // namespace zev::ui
