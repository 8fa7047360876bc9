#include "ui/notify.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace vx::ui {
namespace {

TNotifyHook& Hook() {
  static TNotifyHook hook;
  return hook;
}

// A GVariant text string, so that gdbus takes the text as it is.
QString GVariantString(const QString& text) {
  QString q = QStringLiteral("\"");
  for (const QChar c : text) {
    if (c == QLatin1Char('\n')) {
      q += QStringLiteral("\\n");
      continue;
    }
    if (c == QLatin1Char('\\') || c == QLatin1Char('"')) q += QLatin1Char('\\');
    q += c;
  }
  return q + QLatin1Char('"');
}

}  // namespace

void SetNotifyHook(TNotifyHook hook) { Hook() = std::move(hook); }

void NotifyDesktop(const QString& summary, const QString& body, bool ok) {
  if (Hook()) {
    Hook()(summary, body, ok);
    return;
  }
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return;
  // Started detached: the window never waits for the notification service.
  const QString notifySend = QStandardPaths::findExecutable(QStringLiteral("notify-send"));
  if (!notifySend.isEmpty()) {
    QProcess::startDetached(
        notifySend, {QStringLiteral("--app-name=Vaultix"), QStringLiteral("--icon=vaultix"),
                     ok ? QStringLiteral("--urgency=normal") : QStringLiteral("--urgency=critical"),
                     summary, body});
    return;
  }
  const QString gdbus = QStandardPaths::findExecutable(QStringLiteral("gdbus"));
  if (gdbus.isEmpty()) return;
  // Notify(app, replaces id, icon, summary, body, actions, hints, timeout);
  // "--" keeps the timeout -1 from being read as an option.
  QProcess::startDetached(
      gdbus,
      {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--timeout=10"),
       QStringLiteral("--dest"), QStringLiteral("org.freedesktop.Notifications"),
       QStringLiteral("--object-path"), QStringLiteral("/org/freedesktop/Notifications"),
       QStringLiteral("--method"), QStringLiteral("org.freedesktop.Notifications.Notify"),
       QStringLiteral("--"), GVariantString(QStringLiteral("Vaultix")), QStringLiteral("0"),
       GVariantString(QStringLiteral("vaultix")), GVariantString(summary), GVariantString(body),
       QStringLiteral("[]"), QStringLiteral("{}"), QStringLiteral("-1")});
}

}  // namespace vx::ui
