#pragma once
// Scheduling a saved job from the window ("Plánovať…" in the Súbor menu).
// The schedule itself is the command line's: the dialog runs
// `vaultix-cli schedule --job FILE --daily HH:MM` (or --weekly DAY HH:MM),
// `vaultix-cli schedules` and `vaultix-cli unschedule NAME`, so a job
// scheduled here is the same systemd user timer as one scheduled in a
// terminal.
#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimeEdit;

namespace vx::ui {

// When a schedule runs: every day, or one day of the week (0 Monday ... 6
// Sunday), at a time of day.
struct TScheduleTime {
  bool Weekly = false;
  int Weekday = 0;
  QTime At;
};

// "daily 02:30" and "weekly Mon 02:30" (as `vaultix-cli schedules` lists
// them); nothing for any other text.
std::optional<TScheduleTime> ParseScheduleTime(const QString& text);
// The arguments of `vaultix-cli schedule` after the job: --daily HH:MM or
// --weekly mon HH:MM.
QStringList ScheduleArguments(const TScheduleTime& when);
// The first run strictly after now (local time).
QDateTime NextRun(const TScheduleTime& when, const QDateTime& now);
// In words, for the dialog: "denne o 02:30", "každý pondelok o 02:30".
QString DescribeScheduleTime(const TScheduleTime& when);

// One line of `vaultix-cli schedules`.
struct TScheduleEntry {
  QString Name;
  QString When;
  QString Job;
  QString LastResult;
};
std::vector<TScheduleEntry> ParseScheduleList(const QString& output);

// The command line program beside this one ($VAULTIX_CLI when set, then the
// folder of this program, the build tree's src/cli, the PATH).
QString CommandLineProgram();

class TScheduleDialog : public QDialog {
  Q_OBJECT
 public:
  // jobFile: the saved job to schedule (an absolute path).
  explicit TScheduleDialog(const QString& jobFile, QWidget* parent = nullptr);

  // Where "now" comes from for the next run; tests hold it still.
  void SetClock(std::function<QDateTime()> clock);

  // The schedule of this job as the command line lists it; nothing when the
  // job is not scheduled.
  std::optional<TScheduleEntry> Current() const { return current_; }
  // The steps of the buttons, callable directly.
  bool Schedule();
  bool Unschedule();
  TScheduleTime Chosen() const;

 private:
  // Runs vaultix-cli; false (its message shown) on failure.
  bool RunCli(const QStringList& arguments, QString& output);
  void Refresh();
  void UpdateNextRun();

  QString job_;
  std::function<QDateTime()> clock_;
  std::optional<TScheduleEntry> current_;
  QRadioButton* daily_ = nullptr;
  QRadioButton* weekly_ = nullptr;
  QComboBox* day_ = nullptr;
  QTimeEdit* time_ = nullptr;
  QLabel* state_ = nullptr;
  QLabel* next_ = nullptr;
  QPushButton* schedule_ = nullptr;
  QPushButton* remove_ = nullptr;
};

}  // namespace vx::ui
