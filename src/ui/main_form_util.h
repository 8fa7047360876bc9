#pragma once
// Small helpers of the main window's pages.
#include <QString>

class QWidget;

namespace vx::ui {

// The user's home folder with a trailing "/": the initial backup folder.
QString HomeFolder();
// Greyed (the button face colour) or white (the window colour); the state is
// kept in the property "greyed".
void SetGreyed(QWidget* edit, bool greyed);
// Trims blanks and control characters at both ends.
QString TrimText(const QString& text);

}  // namespace vx::ui
