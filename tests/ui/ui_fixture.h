#pragma once
// Shared pieces of the desktop program's tests: private folders for every
// per-user path, scripted answers for message boxes, the selection dialog
// and the file dialogs, and finding a window's controls by name.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <initializer_list>
#include <utility>
#include <vector>

#include "ui/application.h"
#include "ui/box_script.h"
#include "ui/selection_dialog.h"

namespace vx::ui::test {

// Environment variables as they were, put back by the destructor.
class TSavedEnvironment {
 public:
  explicit TSavedEnvironment(std::initializer_list<const char*> names) {
    for (const char* v : names) saved_.emplace_back(v, qgetenv(v));
  }
  ~TSavedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value.isNull())
        qunsetenv(name);
      else
        qputenv(name, value);
    }
  }
  TSavedEnvironment(const TSavedEnvironment&) = delete;
  TSavedEnvironment& operator=(const TSavedEnvironment&) = delete;

 private:
  std::vector<std::pair<const char*, QByteArray>> saved_;
};

// Points HOME and the XDG folders at a private folder for the life of the
// object, so that nothing of the user's is read or written.
class TPrivateHome {
 public:
  TPrivateHome() {
    const QString root = dir_.path();
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    // The system's data folders, where a package installs: empty here.
    qputenv("XDG_DATA_DIRS", QFile::encodeName(root + QStringLiteral("/system")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root + QStringLiteral("/state")));
    qputenv("VAULTIX_STATE_DIR", QFile::encodeName(root + QStringLiteral("/vxstate")));
    QDir().mkpath(root + QStringLiteral("/home"));
  }

  QString Path(const QString& below) const { return dir_.path() + QLatin1Char('/') + below; }
  QString Home() const { return Path(QStringLiteral("home")); }

 private:
  TSavedEnvironment saved_{{"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS",
                            "XDG_STATE_HOME", "VAULTIX_STATE_DIR"}};
  QTemporaryDir dir_;
};

// Answers the selection dialog with scripted texts (empty when none is left)
// and records the mode and starting path of each call.
class TPathScript {
 public:
  TPathScript() {
    SetSelectPathHook([this](TSelectionMode mode, const QString& initial) {
      calls.emplace_back(mode, initial);
      if (answers.empty()) return QString();
      const QString a = answers.front();
      answers.pop_front();
      return a;
    });
  }
  ~TPathScript() { SetSelectPathHook(nullptr); }
  TPathScript(const TPathScript&) = delete;
  TPathScript& operator=(const TPathScript&) = delete;

  std::deque<QString> answers;
  std::vector<std::pair<TSelectionMode, QString>> calls;
};

// Answers the open and save dialogs with scripted file names.
class TFileDialogScript {
 public:
  TFileDialogScript() {
    SetFileDialogHook([this](const TFileDialogRequest& r) {
      requests.push_back(r);
      if (answers.empty()) return QString();
      const QString a = answers.front();
      answers.pop_front();
      return a;
    });
  }
  ~TFileDialogScript() { SetFileDialogHook(nullptr); }
  TFileDialogScript(const TFileDialogScript&) = delete;
  TFileDialogScript& operator=(const TFileDialogScript&) = delete;

  std::deque<QString> answers;
  std::vector<TFileDialogRequest> requests;
};

template <class T>
T* Control(QObject* window, const QString& name) {
  T* c = window->findChild<T*>(name);
  if (!c) qFatal("control %s missing", qPrintable(name));
  return c;
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
    qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace vx::ui::test
