// The status window: its statistics display, its questions, and whole runs of
// the real engine (to the end, and cancelled with the abort button).
#include "ui/status_form.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>

#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/hooks.h"
#include "support/utils.h"
#include "ui/box_script.h"
#include "ui/log_view.h"

using vx::ui::TStatusForm;
using vx::ui::test::TBoxScript;
using namespace vx::ui;

namespace {

constexpr double kMinute = 1.0 / 1440.0;
constexpr double kStart = 46000.5;  // any moment

QString Label(QWidget& w, const char* name) {
  auto* l = w.findChild<QLabel*>(QString::fromLatin1(name));
  return l ? l->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

// Runs action on the modal window that is open next (a viewer, a dialog),
// or on the next one that wanted accepts (a window closing may still be the
// active modal one for a moment); delete the timer returned to stop waiting.
QTimer* OnNextModal(std::function<void(QWidget*)> action,
                    std::function<bool(QWidget*)> wanted = nullptr) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, action, wanted] {
    if (QWidget* w = QApplication::activeModalWidget();
        w && !qobject_cast<TStatusForm*>(w) && (!wanted || wanted(w))) {
      timer->stop();
      timer->deleteLater();
      action(w);
    }
  });
  timer->start();
  return timer;
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray Noise(int n, quint32 x) {
  QByteArray b(n, '\0');
  for (auto& c : b) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return b;
}

// A statistics record at some time after the start, and what it shows.  The
// texts are the same in every locale: a decimal point, never the comma of a
// Slovak LC_NUMERIC (the suite runs under C and sk_SK.UTF-8).
struct TProgressRow {
  const char* name;
  int kind, percent;
  qint64 total, read, written;
  double elapsed;  // days since the start
  const char *timeDone, *timeLeft;
  const char *processed, *remaining, *speed;
  const char* ratio;
};
// clang-format off: one row per line
const TProgressRow kProgressRows[] = {
    {"0 % shows an hour left", 0, 0, 1000, 0, 0, 10 * kMinute, "00:10:00", "01:00:00", "     0",
     "  1000", "     0/min", "1:0.0"},
    {"half way", 0, 50, 6000000, 3000000, 1000000, 10 * kMinute, "00:10:00", "00:10:00", "   2.9 M",
     "   2.9 M", " 293.0 k/min", "1:3.0"},
    {"100 % leaves nothing", 0, 100, 5000, 3000, 3000, kMinute, "00:01:00", "00:00:00", "   2.9 k",
     "     0", "   2.9 k/min", "1:1.0"},
    {"more done than total", 0, 40, 100, 400, 400, 4 * kMinute, "00:04:00", "00:06:00", "   400",
     "     0", "   100/min", "1:1.0"},
    {"at the start time", 0, 10, 100, 10, 0, 0.0, "00:00:00", "00:00:00", "    10", "    90",
     "0/min", "1:0.0"},
    {"3145728 read, 1048576 written", 0, 30, 10485760, 3145728, 1048576, 3 * kMinute, "00:03:00",
     "00:07:00", "   3.0 M", "   7.0 M", "1024.0 k/min", "1:3.0"},
    {"restore counts written bytes", 1, 20, 1000, 900, 200, kMinute, "00:01:00", "00:04:00",
     "   200", "   800", "   200/min", "1:4.5"},
    {"verify counts read bytes", 2, 20, 1000, 900, 200, kMinute, "00:01:00", "00:04:00", "   900",
     "   100", "   900/min", "1:4.5"},
    {"25 hours wrap to 01:00:00", 0, 99, 1000, 990, 990, 25.0 / 24.0, "01:00:00", "00:15:09",
     "   990", "    10", "     1/min", "1:1.0"},
    {"speed rounds to the nearest byte", 0, 1, 100000, 1000, 1000, 3 * kMinute, "00:03:00",
     "04:57:00", "  1000", "  96.7 k", "   333/min", "1:1.0"},
    {"counters beyond 32 bits", 0, 50, 10000000000, 5000000000, 2500000000, kMinute, "00:01:00",
     "00:01:00", "   4.7 G", "   4.7 G", "   4.7 G/min", "1:2.0"},
};
// clang-format on

// Where window pictures go when VAULTIX_SCREENSHOT_DIR names a folder.
void SavePicture(QWidget& w, const QString& name) {
  const QPixmap picture = w.grab();
  QVERIFY(!picture.isNull());
  const QString dir = qEnvironmentVariable("VAULTIX_SCREENSHOT_DIR");
  if (!dir.isEmpty()) QVERIFY(picture.save(dir + QLatin1Char('/') + name + ".png"));
}

}  // namespace

class StatusFormTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir state_;
  QTemporaryDir work_;
  QWidget main_;

  vx::TWizardPages BackupOf(const QString& source, const QString& target) {
    vx::TWizardPages pages;
    pages.Backup.Include = {(source + "/*.* /S").toStdString()};
    pages.Backup.Location = (target + "/").toStdString();
    pages.Backup.EraseTarget = false;
    pages.Backup.CreateLog = true;
    return pages;
  }

  // Runs the window modally; whenever the operation is done, `atEnd` runs
  // and the "Close" button is pressed.
  int RunToEnd(TStatusForm& form, const std::function<void()>& atEnd = {}) {
    auto* watch = new QTimer(&form);
    watch->setInterval(5);
    connect(watch, &QTimer::timeout, &form, [&form, watch, atEnd] {
      if (!form.OperationDone()) return;
      watch->stop();
      if (atEnd) atEnd();
      form.findChild<QPushButton*>("AbortButton")->click();
    });
    watch->start();
    return form.exec();
  }

 private slots:
  void initTestCase() {
    QVERIFY(state_.isValid() && work_.isValid());
    qputenv("VAULTIX_STATE_DIR", state_.path().toUtf8());
    qputenv("XDG_STATE_HOME", state_.path().toUtf8());
    vx::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
    main_.setWindowTitle(QString::fromUtf8("Zálohovanie údajov Vaultix"));
    main_.resize(600, 400);
    main_.show();
  }

  void showProgress_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(kProgressRows)); ++i)
      QTest::newRow(kProgressRows[i].name) << i;
  }

  void showProgress() {
    QFETCH(int, row);
    const TProgressRow& r = kProgressRows[row];
    const double elapsed = r.elapsed;
    TStatusForm form(&main_, r.kind, {});
    form.SetStartTime(kStart);
    form.SetClock([elapsed] { return kStart + elapsed; });
    vx::TExtBackupStatistic s;
    s.PercentDone = r.percent;
    s.TotalBytes = r.total;
    s.BytesRead = r.read;
    s.BytesWritten = r.written;
    s.CurrentFile = "/home/eva/docs/letter.odt";
    bool cancel = false;
    form.ShowProgress(s, cancel);
    QVERIFY(!cancel);
    QCOMPARE(Label(form, "TimeProcessedLabel"), QString(r.timeDone));
    QCOMPARE(Label(form, "TimeRemainingLabel"), QString(r.timeLeft));
    QCOMPARE(Label(form, "BytesProcessedLabel"), QString(r.processed));
    QCOMPARE(Label(form, "BytesRemainingLabel"), QString(r.remaining));
    QCOMPARE(Label(form, "SpeedLabel"), QString(r.speed));
    QCOMPARE(Label(form, "CompressionLabel"), QString(r.ratio));
    QCOMPARE(Label(form, "PercentLabel"), QString::number(r.percent) + "%");
    QCOMPARE(form.findChild<QProgressBar*>("ProgressBar")->value(), r.percent);
    QCOMPARE(Label(form, "CurrentDirectoryLabel"), QStringLiteral("/home/eva/docs/"));
    QCOMPARE(Label(form, "CurrentFileLabel"), QStringLiteral("letter.odt"));
    if (QByteArray(QTest::currentDataTag()) == "half way")
      SavePicture(form, "status-window-progress");
  }

  void blockProgressOfTheFile() {
    TStatusForm form(&main_, 0, {});
    auto* bar = form.findChild<QProgressBar*>("FileProgressBar");
    struct TCase {
      int done, total, maximum, value;
    };
    for (const TCase& c : {TCase{32768, 100000, 100000, 32768}, TCase{0, 0, 1, 1},
                           TCase{5, -1, 1, 1}, TCase{120, 100, 100, 100}}) {
      form.Engine().OnNextBlock("/f", c.done, c.total);
      QCOMPARE(bar->minimum(), 0);
      QCOMPARE(bar->maximum(), c.maximum);  // never 0..0, a busy indicator
      QCOMPARE(bar->value(), c.value);
    }
  }

  // Files of 2 GiB and more: the 64-bit counts are brought into the bar's
  // int range without losing their ratio.
  void blockProgressOfFilesBeyondTheIntRange() {
    TStatusForm form(&main_, 0, {});
    auto* bar = form.findChild<QProgressBar*>("FileProgressBar");
    constexpr std::int64_t kGiB = std::int64_t{1} << 30;
    struct TCase {
      std::int64_t done, total;
    };
    for (const TCase& c :
         {TCase{(std::int64_t{1} << 32) + 5, std::int64_t{1} << 33}, TCase{3 * kGiB, 4 * kGiB},
          TCase{2 * kGiB, 2 * kGiB}, TCase{kGiB, 2 * kGiB + 1}, TCase{5 * kGiB, 7 * kGiB + 3},
          TCase{9 * kGiB, 6 * kGiB}, TCase{-kGiB, 6 * kGiB},
          TCase{(std::int64_t{1} << 61) + 1, std::int64_t{1} << 62}}) {
      form.Engine().OnNextBlock("/big", c.done, c.total);
      const double expected =
          double(std::clamp(c.done, std::int64_t{0}, c.total)) / double(c.total);
      QCOMPARE(bar->minimum(), 0);
      QVERIFY2(bar->maximum() > 0, qPrintable(QString::number(c.total)));
      QVERIFY2(bar->value() >= 0 && bar->value() <= bar->maximum(),
               qPrintable(QString::number(c.done)));
      QVERIFY2(std::abs(double(bar->value()) / bar->maximum() - expected) < 1e-6,
               qPrintable(QString::number(c.done) + "/" + QString::number(c.total)));
      // Precision is kept: the range is never cut to a few steps.
      QVERIFY(bar->maximum() >= std::numeric_limits<int>::max() / 2);
    }
  }

  void minimisedTitleShowsTheProgress() {
    TStatusForm form(&main_, 0, {});
    vx::TExtBackupStatistic s;
    s.PercentDone = 42;
    bool cancel = false;
    form.setWindowState(Qt::WindowMinimized);
    QVERIFY(form.AppMinimized());
    form.ShowProgress(s, cancel);
    QCOMPARE(form.windowTitle(), QStringLiteral("Velmora - 42%"));
    form.setWindowState(Qt::WindowNoState);
    QVERIFY(!form.AppMinimized());
    QCOMPARE(form.windowTitle(), QString::fromUtf8("Stav operácie"));
    s.PercentDone = 43;
    form.ShowProgress(s, cancel);
    QCOMPARE(form.windowTitle(), QString::fromUtf8("Stav operácie"));
  }

  void mediumQuestions_data() {
    QTest::addColumn<int>("disk");
    QTest::addColumn<bool>("tape");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reaction");
    QTest::newRow("first disk") << 1 << false << int(BB_Ok)
                                << QString::fromUtf8("Má sa začať zálohovanie?")
                                << int(vx::AW_IGNORE);
    QTest::newRow("third tape") << 3 << true << int(BB_Ok)
                                << QString::fromUtf8("Prosím vložte pásku 3.")
                                << int(vx::AW_IGNORE);
    QTest::newRow("second disk cancelled")
        << 2 << false << int(BB_Cancel) << QString::fromUtf8("Prosím vložte disk 2.")
        << int(vx::AW_ABORT);
  }

  void mediumQuestions() {
    QFETCH(int, disk);
    QFETCH(bool, tape);
    QFETCH(int, answer);
    TStatusForm form(&main_, 0, {});
    form.Engine().BackupToTape = tape;
    TBoxScript boxes;
    boxes.Answer(static_cast<TBoxButton>(answer));
    vx::TReaction r = vx::AW_IGNORE;  // the engine's preset
    form.Engine().OnNextDisk(disk, r);
    QCOMPARE(boxes.shown.size(), size_t(1));
    QTEST(boxes.shown[0].Text, "text");
    QCOMPARE(boxes.shown[0].Caption, main_.windowTitle());
    QCOMPARE(boxes.shown[0].Buttons, BB_Ok | BB_Cancel);
    QCOMPARE(Label(form, "DisksLabel"), QString::number(disk));
    QTEST(int(r), "reaction");
    QCOMPARE(form.AbortRequested(), answer == BB_Cancel);
  }

  void fileQuestions_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("skipLocks");  // checked on the backup and restore pages
    QTest::addColumn<bool>("readFailure");
    QTest::addColumn<int>("answer");  // BB_None: no box expected
    QTest::addColumn<int>("reaction");
    QTest::newRow("backup skips locked files")
        << 0 << true << false << int(BB_None) << int(vx::AW_IGNORE);
    QTest::newRow("restore skips unreadable files")
        << 1 << true << true << int(BB_None) << int(vx::AW_IGNORE);
    QTest::newRow("verify always asks")
        << 2 << true << false << int(BB_Ignore) << int(vx::AW_IGNORE);
    QTest::newRow("backup asks, retry")
        << 0 << false << false << int(BB_Retry) << int(vx::AW_RETRY);
    QTest::newRow("restore asks, abort")
        << 1 << false << true << int(BB_Abort) << int(vx::AW_ABORT);
  }

  void fileQuestions() {
    QFETCH(int, kind);
    QFETCH(bool, skipLocks);
    QFETCH(bool, readFailure);
    QFETCH(int, answer);
    vx::TWizardPages pages;
    pages.Backup.SkipLocks = skipLocks;
    pages.Restore.SkipLocks = skipLocks;
    TStatusForm form(&main_, kind, pages);
    TBoxScript boxes;
    if (answer != BB_None) boxes.Answer(static_cast<TBoxButton>(answer));
    vx::TReaction r = vx::AW_RETRY;
    auto& event = readFailure ? form.Engine().OnCantReadFromFile : form.Engine().OnCantOpenFile;
    event("/home/eva/locked.db", r);
    QTEST(int(r), "reaction");
    if (answer == BB_None) {
      QVERIFY(boxes.shown.empty());
      return;
    }
    QCOMPARE(boxes.shown.size(), size_t(1));
    const char* head = readFailure ? "Nedá sa čítať zo súboru,\n" : "nemôžem otvoriť súbor,\n";
    QCOMPARE(boxes.shown[0].Text, QString::fromUtf8(head) + "/home/eva/locked.db");
    QCOMPARE(boxes.shown[0].Buttons, BB_Abort | BB_Retry | BB_Ignore);
    QCOMPARE(boxes.shown[0].Caption, main_.windowTitle());
    QCOMPARE(form.AbortRequested(), answer == BB_Abort);
  }

  // Once an abort is asked for, every later scan, statistics and attribute
  // event ends the operation.
  void abortAnswersEveryLaterEvent() {
    TStatusForm form(&main_, 0, {});
    TBoxScript boxes;
    boxes.Answer(BB_Abort);
    vx::TReaction r = vx::AW_RETRY;
    form.Engine().OnCantOpenFile("/x", r);
    QVERIFY(form.AbortRequested());
    for (auto* event : {&form.Engine().OnStartFileScan, &form.Engine().OnScanNextDir,
                        &form.Engine().OnEndFileScan}) {
      vx::TReaction answer = vx::AW_IGNORE;
      (*event)("", answer);
      QCOMPARE(int(answer), int(vx::AW_ABORT));
    }
    vx::TReaction answer = vx::AW_IGNORE;
    form.Engine().OnScanNextFile("f", answer);
    QCOMPARE(int(answer), int(vx::AW_ABORT));
    for (auto* event : {&form.Engine().OnExtStatistic, &form.Engine().OnResetAttributes}) {
      bool cancel = false;
      (*event)(vx::TExtBackupStatistic{}, cancel);
      QVERIFY(cancel);
    }
  }

  void backupRunsToTheEnd() {
    const QString src = work_.path() + "/end-src";
    // Created when missing, as its parent is there (a missing parent is no
    // place to create a set in: the disk may not be mounted).
    const QString dst = work_.path() + "/end-dst";
    WriteBytes(src + "/a.txt", "alpha\n");
    WriteBytes(src + "/sub/b.bin", Noise(100000, 7));
    TBoxScript boxes;
    TStatusForm form(&main_, 0, BackupOf(src, dst));
    QVERIFY(main_.isHidden());
    bool logShown = false;
    QString logName;
    const int result = RunToEnd(form, [&] {
      logName = QString::fromStdString(form.Engine().LogFileName);
      auto* view = form.findChild<QPushButton*>("ViewLogButton");
      QVERIFY(view->isVisible() && view->isEnabled());
      QCOMPARE(form.findChild<QPushButton*>("AbortButton")->text(), QStringLiteral("Close"));
      QVERIFY(form.findChild<QProgressBar*>("ProgressBar")->isHidden());
      SavePicture(form, "status-window-done");
      OnNextModal([&](QWidget* viewer) {
        logShown = viewer->windowTitle() == "LogView";
        auto* text = viewer->findChild<QTextEdit*>("RichEdit");
        QVERIFY(text && text->toPlainText().contains("a.txt"));
        SavePicture(*viewer, "log-viewer");
        viewer->findChild<QPushButton*>("CloseButton")->click();
      });
      view->click();
      QVERIFY(view->isEnabled());  // the file is still there
    });
    QCOMPARE(result, TStatusForm::kAbortResult);
    QCOMPARE(form.ResultCode(), 0);
    QVERIFY(logShown);
    QCOMPARE(form.StatusText(), QString::fromUtf8("Záloha dát je ukončená."));
    QCOMPARE(form.windowTitle(), QString::fromUtf8("Stav zálohovania"));
    QVERIFY(QFile::exists(dst + "/Backup.001"));
    // The log: in the state folder, named after the operation and the time.
    QVERIFY(QFile::exists(logName));
    QCOMPARE(QFileInfo(logName).path(), state_.path() + "/logs");
    QVERIFY(QRegularExpression(R"(^Backup \d\d-\d\d-\d{4} \d\d-\d\d-\d\d\.LOG$)")
                .match(QFileInfo(logName).fileName())
                .hasMatch());
    // First the first-disk question, last the end message.
    QVERIFY(boxes.shown.size() >= 2);
    QCOMPARE(boxes.shown.front().Text, QString::fromUtf8("Má sa začať zálohovanie?"));
    QCOMPARE(boxes.shown.back().Text, QString::fromUtf8("Záloha dát je ukončená."));
    QCOMPARE(int(boxes.shown.back().Icon), int(TBoxIcon::Information));
    QCOMPARE(boxes.shown.back().Caption, QString::fromUtf8("Stav zálohovania"));
    QVERIFY(main_.isVisible());
  }

  void abortButton_data() {
    QTest::addColumn<int>("confirm");
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("code");
    QTest::newRow("confirmed") << int(BB_Yes) << QString::fromUtf8("Záloha dát bola prerušená.")
                               << 12;
    QTest::newRow("declined") << int(BB_No) << QString::fromUtf8("Záloha dát je ukončená.") << 0;
  }

  void abortButton() {
    QFETCH(int, confirm);
    const QString src = work_.path() + "/abort-src-" + QString::number(confirm);
    for (int i = 0; i < 4; ++i)
      WriteBytes(src + "/f" + QString::number(i) + ".bin", Noise(1 << 20, i + 1));
    TBoxScript boxes;
    boxes.Answer(BB_Ok);  // first disk
    boxes.Answer(static_cast<TBoxButton>(confirm));
    TStatusForm form(&main_, 0, BackupOf(src, work_.path() + "/abort-dst"));
    bool pressed = false, closeRefused = false;
    auto* press = new QTimer(&form);
    press->setInterval(0);
    connect(press, &QTimer::timeout, &form, [&] {
      if (pressed || boxes.shown.empty() ||
          form.StatusText() != QString::fromUtf8("Vykonáva sa zálohovanie..."))
        return;
      pressed = true;
      if (confirm == BB_Yes) SavePicture(form, "status-window-running");
      form.close();  // refused while the operation runs
      form.reject();
      closeRefused = form.isVisible();
      QTest::keyClick(&form, Qt::Key_Escape);
      closeRefused = closeRefused && form.isVisible();
      form.findChild<QPushButton*>("AbortButton")->click();
    });
    press->start();
    RunToEnd(form);
    QVERIFY(pressed);
    QVERIFY(closeRefused);
    QTEST(form.ResultCode(), "code");
    QTEST(form.StatusText(), "end");
    QCOMPARE(boxes.shown[1].Text,
             QString::fromUtf8("Kliknutím na Áno potvrdíte prerušenie operácie."));
    QCOMPARE(boxes.shown[1].Caption, QStringLiteral("Abort"));
    QCOMPARE(boxes.shown[1].Buttons, BB_Yes | BB_No);
    QFETCH(int, code);
    if (code != 0) {
      QCOMPARE(int(boxes.shown.back().Icon), int(TBoxIcon::Stop));
      QCOMPARE(boxes.shown.back().Text, form.StatusText() + "\n\n" + ResultMessage(code));
    }
  }

  // One file of 256 blocks: the counters move while it is read, and an abort
  // confirmed at its fourth block ends the run long before its last block.
  // The clock steps a second at every reading, so the time moves too.
  void aLargeFileMovesAndStopsPerBlock_data() {
    QTest::addColumn<int>("abortAtBlock");  // 0: none
    QTest::newRow("runs to the end") << 0;
    QTest::newRow("abort at block 4") << 4;
  }

  void aLargeFileMovesAndStopsPerBlock() {
    QFETCH(int, abortAtBlock);
    constexpr int kBlock = 32768, kSize = 256 * kBlock;
    const QString src = work_.path() + "/large-src-" + QString::number(abortAtBlock);
    const QString dst = work_.path() + "/large-dst-" + QString::number(abortAtBlock);
    WriteBytes(src + "/big.bin", Noise(kSize, 11));
    TBoxScript boxes;
    boxes.Answer(BB_Ok);   // first disk
    boxes.Answer(BB_Yes);  // "really abort?"
    TStatusForm form(&main_, 0, BackupOf(src, dst));
    double now = kStart;
    form.SetClock([&now] { return now += 1.0 / 86400.0; });
    QSet<QString> bytes, percents, times;
    std::int64_t lastDone = 0;
    int blocks = 0;
    auto inner = form.Engine().OnNextBlock;
    form.Engine().OnNextBlock = [&](const std::string& f, std::int64_t done, std::int64_t total) {
      inner(f, done, total);
      ++blocks;
      lastDone = done;
      bytes << Label(form, "BytesProcessedLabel");
      percents << Label(form, "PercentLabel");
      times << Label(form, "TimeProcessedLabel");
      if (blocks == abortAtBlock) form.findChild<QPushButton*>("AbortButton")->click();
    };
    RunToEnd(form);
    if (abortAtBlock == 0) {
      QCOMPARE(form.ResultCode(), 0);
      QCOMPARE(blocks, 256);
      QVERIFY2(bytes.size() >= 100, qPrintable(QStringList(bytes.values()).join('|')));
      QVERIFY2(percents.size() >= 90, qPrintable(QStringList(percents.values()).join('|')));
      QVERIFY(times.size() >= 200);
      QVERIFY(bytes.contains(QStringLiteral("   4.0 M")));  // half way through the file
      QVERIFY(percents.contains(QStringLiteral("50%")));
      QCOMPARE(Label(form, "PercentLabel"), QStringLiteral("100%"));
      QVERIFY(QFile::exists(dst + "/Backup.001"));
    } else {
      QCOMPARE(form.ResultCode(), 12);
      QCOMPARE(form.StatusText(), QString::fromUtf8("Záloha dát bola prerušená."));
      QVERIFY2(lastDone < kSize / 4, qPrintable(QString::number(lastDone)));
      QVERIFY(!QFile::exists(dst + "/Backup.001"));
    }
  }

  // A backup that left items out says how many, with the plural of the
  // number, and ends at 100 % although the missing bytes were never read.
  void aBackupThatLeftItemsOutSaysSo_data() {
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("end");
    QTest::newRow("one") << 1
                         << QString::fromUtf8(
                                "Záloha dát je ukončená, 1 položka nebola zálohovaná.");
    QTest::newRow("three") << 3
                           << QString::fromUtf8(
                                  "Záloha dát je ukončená, 3 položky neboli zálohované.");
    QTest::newRow("five") << 5
                          << QString::fromUtf8(
                                 "Záloha dát je ukončená, 5 položiek nebolo zálohovaných.");
  }

  void aBackupThatLeftItemsOutSaysSo() {
    QFETCH(int, removed);
    QFETCH(QString, end);
    const QString src = work_.path() + "/partial-src-" + QString::number(removed);
    WriteBytes(src + "/kept.txt", "kept\n");
    for (int i = 0; i < removed; ++i)
      WriteBytes(src + "/gone" + QString::number(i) + ".bin", Noise(50000, i + 3));
    vx::TWizardPages pages =
        BackupOf(src, work_.path() + "/partial-dst-" + QString::number(removed));
    pages.Backup.SkipLocks = true;  // a file that cannot be opened is left out without a question
    TBoxScript boxes;
    TStatusForm form(&main_, 0, pages);
    auto inner = form.Engine().OnEndFileScan;
    form.Engine().OnEndFileScan = [&](const std::string& dir, vx::TReaction& r) {
      inner(dir, r);
      for (int i = 0; i < removed; ++i) QFile::remove(src + "/gone" + QString::number(i) + ".bin");
    };
    const bool picture = removed == 3;
    RunToEnd(form, [&] {
      if (picture) SavePicture(form, "status-window-partial");
    });
    if (picture) {
      QMessageBox box(QMessageBox::Warning, boxes.shown.back().Caption, boxes.shown.back().Text,
                      QMessageBox::Ok, &form);
      box.adjustSize();
      SavePicture(box, "status-box-partial");
    }
    QCOMPARE(form.ResultCode(), 16);
    QCOMPARE(form.StatusText(), end);
    QCOMPARE(boxes.shown.back().Text, end + QString::fromUtf8("\n\nPodrobnosti sú v logu."));
    QCOMPARE(int(boxes.shown.back().Icon), int(TBoxIcon::Warning));
    QCOMPARE(Label(form, "PercentLabel"), QStringLiteral("100%"));
    QCOMPARE(Label(form, "BytesRemainingLabel"), QStringLiteral("     0"));
    QCOMPARE(Label(form, "TimeRemainingLabel"), QStringLiteral("00:00:00"));
  }

  // Verify and restore of a set written here, through their pages.
  void readingRunsOfASetMadeHere() {
    const QString src = work_.path() + "/read-src";
    const QString dst = work_.path() + "/read-dst";
    const QString back = work_.path() + "/read-back";
    WriteBytes(src + "/a.txt", "alpha\n");
    WriteBytes(src + "/b.bin", Noise(70000, 3));
    {
      TBoxScript boxes;
      TStatusForm backup(&main_, 0, BackupOf(src, dst));
      RunToEnd(backup);
      QCOMPARE(backup.ResultCode(), 0);
    }
    vx::TWizardPages pages;
    pages.Verify.SetFile = (dst + "/Backup.001").toStdString();
    pages.Restore.SetFile = pages.Verify.SetFile;
    pages.Restore.Selection = {(src + "/a.txt").toStdString()};
    pages.Restore.Location = back.toStdString();
    struct TRun {
      int kind;
      const char* caption;
      const char* end;
    };
    for (const TRun& run : {TRun{2, "Stav kontroly", "Kontrola dát je ukončená."},
                            TRun{1, "Stav obnovy", "Obnova dát je ukončená."}}) {
      TBoxScript boxes;
      TStatusForm form(&main_, run.kind, pages);
      RunToEnd(form);
      QCOMPARE(form.ResultCode(), 0);
      QCOMPARE(form.windowTitle(), QString::fromUtf8(run.caption));
      QCOMPARE(form.StatusText(), QString::fromUtf8(run.end));
      QVERIFY(form.findChild<QPushButton*>("ViewLogButton")->isHidden());  // no log asked for
    }
    QFile restored(back + src + "/a.txt");
    QVERIFY(restored.open(QIODevice::ReadOnly));
    QCOMPARE(restored.readAll(), QByteArray("alpha\n"));
    QVERIFY(!QFile::exists(back + src + "/b.bin"));  // not selected
  }

  // An encrypted set read without a password: the window asks for it before
  // any data are read; a wrong one, typed or given on the page, is reported
  // as a wrong password, never as damaged data.
  void encryptedSetAsksForItsPassword_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("onPage");
    QTest::addColumn<QStringList>("typed");  // answers to the question; none left: cancelled
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("box");
    const QString right = QString::fromUtf8("tajné heslo");
    const QString wrong =
        QString::fromUtf8("Nesprávne heslo - dáta zálohy sa ním nedajú dešifrovať");
    QTest::newRow("verify, asked, right") << 2 << QString() << QStringList{right} << 1 << 0
                                          << QString::fromUtf8("Kontrola dát je ukončená.");
    QTest::newRow("restore, asked, right") << 1 << QString() << QStringList{right} << 1 << 0
                                           << QString::fromUtf8("Obnova dát je ukončená.");
    QTest::newRow("verify, asked, cancelled")
        << 2 << QString() << QStringList{} << 1 << 14
        << QString::fromUtf8("Kontrola dát bola prerušená.\n\nChýba heslo pre dešifrovanie");
    QTest::newRow("restore, asked, cancelled")
        << 1 << QString() << QStringList{} << 1 << 14
        << QString::fromUtf8("Obnova dát bola prerušená.\n\nChýba heslo na dešifrovanie");
    QTest::newRow("verify, asked, wrong")
        << 2 << QString() << QStringList{"zlé heslo!"} << 1 << 14
        << QString::fromUtf8("Kontrola dát bola prerušená.\n\n") + wrong;
    QTest::newRow("verify, wrong on the page")
        << 2 << QStringLiteral("zle heslo") << QStringList{} << 0 << 14
        << QString::fromUtf8("Kontrola dát bola prerušená.\n\n") + wrong;
    QTest::newRow("restore, wrong on the page")
        << 1 << QStringLiteral("zle heslo") << QStringList{} << 0 << 14
        << QString::fromUtf8("Obnova dát bola prerušená.\n\n") + wrong;
  }

  void encryptedSetAsksForItsPassword() {
    QFETCH(int, kind);
    QFETCH(QString, onPage);
    QFETCH(QStringList, typed);
    QFETCH(int, code);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
    const QString src = work_.path() + "/enc-src-" + tag;
    const QString dst = work_.path() + "/enc-dst-" + tag;
    WriteBytes(src + "/a.txt", QByteArray(40000, 'a'));
    WriteBytes(src + "/b.bin", Noise(70000, 9));
    {
      vx::TWizardPages pages = BackupOf(src, dst);
      pages.Backup.Encryption = true;
      pages.Backup.Password = "tajné heslo";
      TBoxScript boxes;
      TStatusForm backup(&main_, 0, pages);
      RunToEnd(backup);
      QCOMPARE(backup.ResultCode(), 0);
    }
    vx::TWizardPages pages;
    pages.Verify.SetFile = (dst + "/Backup.001").toStdString();
    pages.Verify.Password = onPage.toStdString();
    pages.Restore.SetFile = pages.Verify.SetFile;
    pages.Restore.Password = pages.Verify.Password;
    pages.Restore.Selection = {(src + "/a.txt").toStdString(), (src + "/b.bin").toStdString()};
    pages.Restore.Location = (work_.path() + "/enc-back-" + tag).toStdString();
    TBoxScript boxes;
    for (const QString& t : typed) boxes.passwords.push_back(t);
    TStatusForm form(&main_, kind, pages);
    RunToEnd(form);
    QCOMPARE(form.ResultCode(), code);
    QTEST(int(boxes.passwordAsks.size()), "asked");
    if (!boxes.passwordAsks.empty()) {
      QCOMPARE(boxes.passwordAsks[0].Caption, QString::fromUtf8("Zašifrovaná záložná sada"));
      QCOMPARE(boxes.passwordAsks[0].Text,
               QString::fromUtf8("Záložná sada je zašifrovaná.\nZadajte heslo pre odšifrovanie:"));
    }
    QTEST(boxes.shown.back().Text, "box");
    if (kind == 1 && code == 0) {
      QFile restored(QString::fromStdString(pages.Restore.Location) + src + "/b.bin");
      QVERIFY(restored.open(QIODevice::ReadOnly));
      QCOMPARE(restored.readAll(), Noise(70000, 9));
    }
  }

  void aDateThatDoesNotConvertFailsTheRun() {
    vx::TWizardPages pages = BackupOf(work_.path() + "/none", work_.path() + "/none-dst");
    pages.Backup.Mode = 3;
    pages.Backup.SpecialDate = "31.31.2026";
    TBoxScript boxes;
    TStatusForm form(&main_, 0, pages);
    RunToEnd(form);
    QCOMPARE(form.ResultCode(), 1);
    QCOMPARE(form.StatusText(), QString::fromUtf8("Záloha dát bola prerušená."));
    QCOMPARE(boxes.shown.back().Text, form.StatusText() + "\n\n" + ResultMessage(1));
    QVERIFY(!QFile::exists(work_.path() + "/none-dst"));
  }

  // The desktop toolkit sets LC_NUMERIC to the user's locale; in a Slovak
  // one printf writes a decimal comma.  A whole backup run with that numeric
  // locale shows and logs the same well-formed numbers as in C.
  void numbersIgnoreADecimalCommaLocale() {
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "sk_SK.UTF-8"))
      QFAIL("sk_SK.UTF-8 is not installed (scripts/install-deps.sh generates it)");
    char comma[8];
    std::snprintf(comma, sizeof comma, "%.1f", 0.5);
    const QString src = work_.path() + "/comma-src";
    const QString dst = work_.path() + "/comma-dst";
    WriteBytes(src + "/a.txt", QByteArray(300000, 'a'));
    TBoxScript boxes;
    TStatusForm form(&main_, 0, BackupOf(src, dst));
    RunToEnd(form);
    const QString ratio = Label(form, "CompressionLabel");
    const QString read = Label(form, "BytesProcessedLabel");
    const QString left = Label(form, "BytesRemainingLabel");
    QFile log(QString::fromStdString(form.Engine().LogFileName));
    const bool opened = log.open(QIODevice::ReadOnly);
    const QStringList lines =
        QString::fromUtf8(log.readAll()).split(QRegularExpression(QStringLiteral("\r?\n")));
    std::setlocale(LC_NUMERIC, before.c_str());
    QCOMPARE(QString::fromLatin1(comma), QStringLiteral("0,5"));  // the locale is in force
    QCOMPARE(form.ResultCode(), 0);
    QCOMPARE(read, QStringLiteral(" 293.0 k"));
    QCOMPARE(left, QStringLiteral("     0"));
    QVERIFY2(QRegularExpression(R"(^1:\d+\.\d$)").match(ratio).hasMatch(), qPrintable(ratio));
    QVERIFY(opened);
    QVERIFY2(lines.contains(QString::fromUtf8(" 293.0 k prečítané")),
             qPrintable(lines.join(QChar(10))));
    const QRegularExpression written(R"(^ *\d+(\.\d [kM])? zapísané$)");
    const QRegularExpression logRatio(R"(^Kompresia : 1:\d+\.\d$)");
    int seen = 0;
    for (const QString& line : lines)
      seen += int(written.match(line).hasMatch()) + int(logRatio.match(line).hasMatch());
    QVERIFY2(seen == 2, qPrintable(lines.join('\n')));
  }

  void resultMessages_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const std::pair<int, const char*> table[] = {
        {1, "Chyba - neplatný parameter."},
        {2, "Chyba - disk je plný."},
        {3, "Interná chyba pri kompresii."},
        {4, "Chyba - súbor má otvorený iný proces."},
        {5, "Chyba počas čítania súboru."},
        {6, "Chyba počas zápisu dát do záložného súboru."},
        {7, "Chyba pri vytváraní archívu zálohy."},
        {8, "Chyba - záložný súbor obsahuje neplatnú hlavičku alebo chybné údaje."},
        {9, "Chyba počas čítania záložného súboru."},
        {10, "Chyba pri použití páskového zariadenia."},
        {11, "Chyba počas vytvárania dočasného súboru."},
        {12, "Prerušené užívateľom."},
        {13, "Nepodarilo sa detekovať prvé médium zálohy."},
        {14, "Heslo musí mať aspoň 8 znakov"},
        {15, "Nepodarilo sa pripojenie na FTP server"},
        {98, "Chyba počas kontroly súborov."},
        {99, "Iná nešpecifikovaná chyba."},
        {0, "Iná chyba (číslo chyby 0)."},
        {42, "Iná chyba (číslo chyby 42)."},
        {-1, "Iná chyba (číslo chyby -1)."},
        {16, "Niektoré položky neboli zálohované, podrobnosti sú v logu."},
        {17, "Iná chyba (číslo chyby 17)."},
    };
    for (const auto& [code, text] : table)
      QTest::newRow(qPrintable(QString::number(code))) << code << QString::fromUtf8(text);
  }

  void resultMessages() {
    QFETCH(int, code);
    QTEST(ResultMessage(code), "text");
  }

  void logViewerDeletesTheFileAndKeepsTheText() {
    const QString log = work_.path() + "/viewer/Backup 01-02-2026 03-04-05.LOG";
    const QByteArray content = "Záloha začatá\na very long line " + QByteArray(400, 'x') + "\n";
    WriteBytes(log, content);
    TStatusForm owner(&main_, 0, {});
    owner.Engine().LogFileName = log.toStdString();
    bool checked = false;
    OnNextModal([&](QWidget* viewer) {
      auto* text = viewer->findChild<QTextEdit*>("RichEdit");
      auto* del = viewer->findChild<QPushButton*>("DeleteButton");
      auto* close = viewer->findChild<QPushButton*>("CloseButton");
      QVERIFY(text && del && close);
      QCOMPARE(del->text(), QString::fromUtf8("Vymazať Log"));
      QCOMPARE(close->text(), QString::fromUtf8("Zatvoriť"));
      QVERIFY(close->isDefault());
      QVERIFY(text->isReadOnly());
      QCOMPARE(text->lineWrapMode(), QTextEdit::NoWrap);
      QCOMPARE(text->toPlainText(), QString::fromUtf8(content));
      del->click();
      QVERIFY(!QFile::exists(log));
      QVERIFY(!del->isEnabled());
      QCOMPARE(text->toPlainText(), QString::fromUtf8(content));  // still on screen
      del->setEnabled(true);
      del->click();  // already gone: nothing beyond disabling the button
      QVERIFY(!del->isEnabled());
      checked = true;
      QTest::keyClick(viewer, Qt::Key_Escape);
    });
    owner.ViewLog();
    QVERIFY(checked);
    // Back in the status window: no file, no LogView.
    QVERIFY(!owner.findChild<QPushButton*>("ViewLogButton")->isEnabled());
    // A missing file is never shown.
    bool shown = false;
    QTimer* waiting = OnNextModal([&](QWidget* w) {
      shown = true;
      w->close();
    });
    owner.ViewLog();
    QTest::qWait(50);
    delete waiting;
    QVERIFY(!shown);
  }

  void viewChosenLogHidesTheMainWindowMeanwhile() {
    const QString folder = work_.path() + "/chosen";
    const QString log = folder + "/Verify 05-06-2026 07-08-09.LOG";
    WriteBytes(log, "Kontrola\n");
    bool hiddenMeanwhile = false, dialogChecked = false;
    OnNextModal([&](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      QVERIFY(dialog);
      QCOMPARE(QDir(dialog->directory()).absolutePath(), QDir(folder).absolutePath());
      QVERIFY(dialog->nameFilters().contains(QString::fromUtf8("Súbory log (*.log)")));
      dialogChecked = true;
      OnNextModal(
          [&](QWidget* viewer) {
            hiddenMeanwhile = main_.isHidden();
            QCOMPARE(viewer->findChild<QTextEdit*>("RichEdit")->toPlainText(),
                     QStringLiteral("Kontrola\n"));
            viewer->close();
          },
          [](QWidget* w) { return w->findChild<QTextEdit*>("RichEdit") != nullptr; });
      // The name goes into the name field itself: selectFile() leaves the
      // field alone while it has the focus, which the window may or may not
      // have given it by now.
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      QVERIFY(name);
      name->setText(QFileInfo(log).fileName());
      QTRY_VERIFY_WITH_TIMEOUT((static_cast<QDialog*>(dialog)->accept(), !dialog->isVisible()),
                               10000);
    });
    ViewChosenLog(&main_, folder);
    QVERIFY(dialogChecked);
    QVERIFY(hiddenMeanwhile);
    QVERIFY(main_.isVisible());
    QVERIFY(QFile::exists(log));
  }

  void aboutBoxNamesTheProgramAndVersion() {
    // Drawn as a real box once, for the picture.
    struct TPictureBoxes final : TMessageBoxes {
      TBoxButton Show(const TBoxRequest& r) override {
        QMessageBox box(QMessageBox::Information, r.Caption, r.Text, QMessageBox::Ok, r.Parent);
        box.adjustSize();
        SavePicture(box, "about-box");
        return BB_Ok;
      }
    } pictures;
    TMessageBoxes* previous = SetMessageBoxes(&pictures);
    ShowAboutBox(&main_);
    SetMessageBoxes(previous);
    TBoxScript boxes;
    ShowAboutBox(&main_);
    QCOMPARE(boxes.shown.size(), size_t(1));
    QCOMPARE(boxes.shown[0].Caption, QStringLiteral("O programe"));
    QVERIFY(boxes.shown[0].Text.contains("Vaultix"));
    QVERIFY(boxes.shown[0].Text.contains("7.0.0.0"));
  }
};

QTEST_MAIN(StatusFormTest)
#include "status_form_test.moc"
