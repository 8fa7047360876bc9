#include "ui/schedule_dialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTimeEdit>

#include "ui/application.h"
#include "ui/message_boxes.h"
#include "ui/texts.h"

namespace vx::ui {
namespace {

// The command line's day names, Monday first.
const char* const kCliDays[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

bool Executable(const QString& path) {
  const QFileInfo f(path);
  return f.isFile() && f.isExecutable();
}

}  // namespace

std::optional<TScheduleTime> ParseScheduleTime(const QString& text) {
  const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  TScheduleTime when;
  QString clock;
  if (words.size() == 2 && words[0] == QLatin1String("daily")) {
    clock = words[1];
  } else if (words.size() == 3 && words[0] == QLatin1String("weekly")) {
    when.Weekly = true;
    when.Weekday = -1;
    for (int d = 0; d < 7; ++d)
      if (words[1].compare(QLatin1String(kCliDays[d]), Qt::CaseInsensitive) == 0) when.Weekday = d;
    if (when.Weekday < 0) return std::nullopt;
    clock = words[2];
  } else {
    return std::nullopt;
  }
  when.At = QTime::fromString(clock, QStringLiteral("HH:mm"));
  if (!when.At.isValid()) return std::nullopt;
  return when;
}

QStringList ScheduleArguments(const TScheduleTime& when) {
  const QString clock = when.At.toString(QStringLiteral("HH:mm"));
  if (!when.Weekly) return {QStringLiteral("--daily"), clock};
  return {QStringLiteral("--weekly"), QLatin1String(kCliDays[when.Weekday]), clock};
}

QDateTime NextRun(const TScheduleTime& when, const QDateTime& now) {
  QDate day = now.date();
  if (when.Weekly) day = day.addDays((when.Weekday - (day.dayOfWeek() - 1) + 7) % 7);
  QDateTime next(day, when.At);
  if (next <= now) next = QDateTime(day.addDays(when.Weekly ? 7 : 1), when.At);
  return next;
}

QString DescribeScheduleTime(const TScheduleTime& when) {
  const QString clock = when.At.toString(QStringLiteral("HH:mm"));
  if (!when.Weekly) return text::kScheduleEveryDay + clock;
  return text::kScheduleEveryWeekday[when.Weekday] + clock;
}

std::vector<TScheduleEntry> ParseScheduleList(const QString& output) {
  std::vector<TScheduleEntry> out;
  for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList f = line.split(QLatin1Char('\t'));
    if (f.size() < 4) continue;
    out.push_back({f[0], f[1], f[2], f[3]});
  }
  return out;
}

QString CommandLineProgram() {
  const QString set = qEnvironmentVariable("VAULTIX_CLI");
  if (!set.isEmpty()) return Executable(set) ? set : QString();
  const QString here = QCoreApplication::applicationDirPath();
  for (const QString& candidate :
       {here + QStringLiteral("/vaultix-cli"), here + QStringLiteral("/../cli/vaultix-cli")}) {
    if (Executable(candidate)) return QDir::cleanPath(candidate);
  }
  return QStandardPaths::findExecutable(QStringLiteral("vaultix-cli"));
}

TScheduleDialog::TScheduleDialog(const QString& jobFile, QWidget* parent)
    : QDialog(parent), job_(jobFile), clock_([] { return QDateTime::currentDateTime(); }) {
  setObjectName(QStringLiteral("ScheduleForm"));
  setWindowTitle(text::kScheduleCaption);
  auto* jobLabel = new QLabel(text::kScheduleJob + job_, this);
  jobLabel->setObjectName(QStringLiteral("ScheduleJobLabel"));
  jobLabel->setWordWrap(true);
  daily_ = new QRadioButton(text::kScheduleDaily, this);
  daily_->setObjectName(QStringLiteral("ScheduleDailyRadio"));
  weekly_ = new QRadioButton(text::kScheduleWeekly, this);
  weekly_->setObjectName(QStringLiteral("ScheduleWeeklyRadio"));
  daily_->setChecked(true);
  day_ = new QComboBox(this);
  day_->setObjectName(QStringLiteral("ScheduleDayCombo"));
  for (const QString& d : text::kScheduleDays) day_->addItem(d);
  time_ = new QTimeEdit(QTime(2, 0), this);
  time_->setObjectName(QStringLiteral("ScheduleTimeEdit"));
  time_->setDisplayFormat(QStringLiteral("HH:mm"));
  next_ = new QLabel(this);
  next_->setObjectName(QStringLiteral("ScheduleNextLabel"));
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("ScheduleStateLabel"));
  state_->setWordWrap(true);
  schedule_ = new QPushButton(text::kScheduleButton, this);
  schedule_->setObjectName(QStringLiteral("ScheduleButton"));
  schedule_->setDefault(true);
  remove_ = new QPushButton(text::kUnscheduleButton, this);
  remove_->setObjectName(QStringLiteral("UnscheduleButton"));
  remove_->setAutoDefault(false);
  auto* close = new QPushButton(text::kCloseButton, this);
  close->setObjectName(QStringLiteral("ScheduleCloseButton"));
  close->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(jobLabel, 0, 0, 1, 3);
  grid->addWidget(daily_, 1, 0);
  grid->addWidget(weekly_, 2, 0);
  grid->addWidget(new QLabel(text::kScheduleDay, this), 2, 1);
  grid->addWidget(day_, 2, 2);
  grid->addWidget(new QLabel(text::kScheduleAt, this), 3, 1);
  grid->addWidget(time_, 3, 2);
  grid->addWidget(next_, 4, 0, 1, 3);
  grid->addWidget(state_, 5, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(schedule_);
  buttons->addWidget(remove_);
  buttons->addWidget(close);
  grid->addLayout(buttons, 6, 0, 1, 3);
  grid->setColumnStretch(2, 1);

  connect(daily_, &QRadioButton::toggled, this, [this] { UpdateNextRun(); });
  connect(day_, &QComboBox::currentIndexChanged, this, [this] { UpdateNextRun(); });
  connect(time_, &QTimeEdit::timeChanged, this, [this] { UpdateNextRun(); });
  connect(schedule_, &QPushButton::clicked, this, [this] { Schedule(); });
  connect(remove_, &QPushButton::clicked, this, [this] { Unschedule(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  Refresh();
}

void TScheduleDialog::SetClock(std::function<QDateTime()> clock) {
  clock_ = std::move(clock);
  UpdateNextRun();
}

TScheduleTime TScheduleDialog::Chosen() const {
  TScheduleTime when;
  when.Weekly = weekly_->isChecked();
  when.Weekday = day_->currentIndex();
  when.At = time_->time();
  return when;
}

void TScheduleDialog::UpdateNextRun() {
  day_->setEnabled(weekly_->isChecked());
  const QDateTime next = NextRun(Chosen(), clock_());
  next_->setText(text::kNextRun + text::kScheduleDays[next.date().dayOfWeek() - 1] +
                 QLatin1Char(' ') + QLocale().toString(next, QLocale::ShortFormat));
}

bool TScheduleDialog::RunCli(const QStringList& arguments, QString& output) {
  const QString program = CommandLineProgram();
  if (program.isEmpty()) {
    ShowError(this, text::kNoCli);
    return false;
  }
  QProcess p;
  p.setStandardInputFile(QProcess::nullDevice());
  p.start(program, arguments);
  const bool finished = p.waitForStarted() && p.waitForFinished(120000);
  output = QString::fromUtf8(p.readAllStandardOutput());
  if (finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return true;
  QString error = QString::fromUtf8(p.readAllStandardError()).trimmed();
  if (error.isEmpty()) error = p.errorString();
  ShowError(this, text::kScheduleFailed + error);
  return false;
}

void TScheduleDialog::Refresh() {
  current_.reset();
  QString list;
  if (RunCli({QStringLiteral("schedules")}, list)) {
    const QString job = QFileInfo(job_).absoluteFilePath();
    for (const TScheduleEntry& e : ParseScheduleList(list))
      if (e.Job == job) current_ = e;
  }
  std::optional<TScheduleTime> when;
  if (current_) when = ParseScheduleTime(current_->When);
  if (when) {
    (when->Weekly ? weekly_ : daily_)->setChecked(true);
    day_->setCurrentIndex(when->Weekday);
    time_->setTime(when->At);
  }
  if (current_) {
    state_->setText(text::kScheduled + (when ? DescribeScheduleTime(*when) : current_->When) +
                    QLatin1Char('\n') + text::kLastRun + current_->LastResult);
  } else {
    state_->setText(text::kNotScheduled);
  }
  remove_->setEnabled(current_.has_value());
  UpdateNextRun();
}

bool TScheduleDialog::Schedule() {
  const TScheduleTime when = Chosen();
  QString output;
  if (!RunCli(QStringList{QStringLiteral("schedule"), QStringLiteral("--job"), job_} +
                  ScheduleArguments(when),
              output))
    return false;
  Refresh();
  ShowBox(this, windowTitle(),
          text::kScheduled + DescribeScheduleTime(when) + QLatin1Char('\n') + next_->text() +
              QStringLiteral("\n\n") + output.trimmed(),
          TBoxIcon::Information, BB_Ok);
  return true;
}

bool TScheduleDialog::Unschedule() {
  if (!current_) return false;
  QString output;
  const bool ok = RunCli({QStringLiteral("unschedule"), current_->Name}, output);
  Refresh();
  return ok;
}

}  // namespace vx::ui
