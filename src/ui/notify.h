#pragma once
// Desktop notifications: the end of a run while the program is minimised.
#include <QString>
#include <functional>

namespace vx::ui {

// Shows a notification through the desktop's notification service
// (notify-send, else gdbus); nothing without a session bus.  ok false marks
// it urgent.  Tests replace it.
void NotifyDesktop(const QString& summary, const QString& body, bool ok);

using TNotifyHook = std::function<void(const QString& summary, const QString& body, bool ok)>;
void SetNotifyHook(TNotifyHook hook);

}  // namespace vx::ui
