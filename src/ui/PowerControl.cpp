#include "ui/PowerControl.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <string>

#include "core/Log.h"

namespace zev::ui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
// "auto" is the caller's own session, or the user's graphical one when the program runs
// outside any session.
const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/auto");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");

TLogindPowerControl gLogind;
TPowerControl* gControl = &gLogind;

QDBusMessage ManagerCall(const char* method) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kManagerPath, kManager, QString::fromLatin1(method));
  call << true;  // interactive
  return call;
}

}  // namespace

TPowerControl& PowerControl() { return *gControl; }

TPowerControl* SetPowerControl(TPowerControl* control) {
  TPowerControl* previous = gControl == &gLogind ? nullptr : gControl;
  gControl = control ? control : &gLogind;
  return previous;
}

bool TLogindPowerControl::Perform(TShutdownMethod method) {
  QDBusMessage call;
  switch (method) {
    case smExit: return true;
    case smLogoff: call = QDBusMessage::createMethodCall(kService, kSessionPath, kSession, "Terminate"); break;
    case smShutdown:
    case smPoweroff: call = ManagerCall("PowerOff"); break;
    case smReboot: call = ManagerCall("Reboot"); break;
    case smSuspend: call = ManagerCall("Suspend"); break;
    case smHibernate: call = ManagerCall("Hibernate"); break;
    default: return true;
  }
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    LogError("Power control: the system bus is not available (" + bus.lastError().message().toStdString() + ").");
    return false;
  }
  QDBusMessage reply = bus.call(call, QDBus::Block, 30000);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    LogError("Power control: " + call.member().toStdString() + " was refused: " + reply.errorName().toStdString() +
             " " + reply.errorMessage().toStdString());
    return false;
  }
  return true;
}

}  // namespace zev::ui
