#pragma once
// The log viewer, the windows' own texts for result codes, and the about box.
#include <QDialog>
#include <QString>

namespace vx::ui {

// The sentence the windows show for an operation's result code.
QString ResultMessage(int code);

// Shows the log file modally over owner; its delete button deletes the file.
// Returns after the viewer closed.
void ShowLogViewer(QWidget* owner, const QString& fileName);

// The main window's "Zobraziť LOG súbor ..." item: asks for a log file in
// startFolder and shows it (mainWindow is hidden meanwhile).
void ViewChosenLog(QWidget* mainWindow, const QString& startFolder);

// The about box.
void ShowAboutBox(QWidget* owner);

}  // namespace vx::ui
