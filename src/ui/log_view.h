#pragma once
// The log viewer, the windows' own texts for result codes, and the about box.
#include <QDialog>
#include <QString>

class QPushButton;
class QTextEdit;

namespace vx::ui {

// The sentence the windows show for an operation's result code.
QString ResultMessage(int code);

// The log viewer: the file's text, read-only, and a button that deletes the
// file (the text stays on screen until the viewer closes).
class TViewLogForm : public QDialog {
  Q_OBJECT
 public:
  TViewLogForm(QWidget* owner, const QString& fileName);
  // Loads the file's text into the viewer; false when it cannot be read.
  bool LoadFile();

 private:
  void DeleteButtonClick();

  QString fileName_;
  QTextEdit* richEdit_ = nullptr;
  QPushButton* deleteButton_ = nullptr;
};

// Shows the log file modally over owner; its delete button deletes the file.
// Returns after the viewer closed.
void ShowLogViewer(QWidget* owner, const QString& fileName);

// The main window's "Zobraziť LOG súbor ..." item: asks for a log file in
// startFolder and shows it (mainWindow is hidden meanwhile).
void ViewChosenLog(QWidget* mainWindow, const QString& startFolder);

// The about box.
void ShowAboutBox(QWidget* owner);

}  // namespace vx::ui
