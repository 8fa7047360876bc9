#pragma once
// Context help: F1 opens the help window at the topic of the current page or
// window; Ctrl+Shift+F1 shows the topic's name and copies it to the clipboard.
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QTextBrowser;

namespace vx::ui {

// The HTML page of a topic; the contents page for an unknown topic.
QString HelpPage(const QString& topic);
bool HasHelpTopic(const QString& topic);
QStringList HelpTopics();

// A topic name as the help file knows it: the first "Form" removed and
// every blank turned into "_".
QString HelpTopicName(const QString& raw);

class THelpWindow : public QDialog {
  Q_OBJECT
 public:
  explicit THelpWindow(QWidget* parent = nullptr);
  void ShowTopic(const QString& topic);
  QString Topic() const { return topic_; }

 private:
  QTextBrowser* browser_;
  QString topic_;
};

// The application's key hook.  mainWindow is the wizard; currentPage gives
// the name of its current page.
class THelpKeyHandler : public QObject {
  Q_OBJECT
 public:
  THelpKeyHandler(QWidget* mainWindow, std::function<QString()> currentPage);
  ~THelpKeyHandler() override;

  // The topic and window text for the window that is active now.
  void TopicFor(QWidget* active, QString& topic, QString& windowText) const;
  // What F1 does (ctrlShift: the topic box instead of the help).
  void HelpKey(bool ctrlShift);
  THelpWindow* HelpWindow() const { return help_.data(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* main_;
  std::function<QString()> currentPage_;
  // Owned by the window it was opened over: gone when that window is.
  QPointer<THelpWindow> help_;
};

}  // namespace vx::ui
