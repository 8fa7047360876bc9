#include "ui/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include "engine/wizard_job.h"
#include "support/version.h"
#include "ui/application.h"
#include "ui/message_boxes.h"
#include "ui/texts.h"

namespace vx::ui {
namespace {

QString XdgFolder(const char* variable, const QString& fallbackBelowHome) {
  QString v = qEnvironmentVariable(variable);
  // The XDG rules: only an absolute path counts.
  if (!v.isEmpty() && QDir::isAbsolutePath(v)) return v;
  return QDir::homePath() + QLatin1Char('/') + fallbackBelowHome;
}

QString InternalName() { return QString::fromStdString(vx::VersionString(vx::VS_InternalName)); }

const QString kMimeType = QStringLiteral("application/x-vaultix-job");

// Writes text to fileName (folders created); false on any failure.
bool WriteTextFile(const QString& fileName, const QByteArray& text) {
  if (!QDir().mkpath(QFileInfo(fileName).absolutePath())) return false;
  QSaveFile f(fileName);
  if (!f.open(QIODevice::WriteOnly)) return false;
  if (f.write(text) != text.size()) return false;
  return f.commit();
}

void RunTool(const QString& tool, const QString& folder) {
  const QString exe = QStandardPaths::findExecutable(tool);
  if (exe.isEmpty()) return;
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(exe, {folder});
  if (!p.waitForFinished(10000)) p.kill();
  p.waitForFinished(1000);
}

}  // namespace

QString SettingsFileName() {
  const QString name = InternalName();
  return XdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/Zarel/") +
         (name.isEmpty() ? QStringLiteral("Zarel") : name) + QStringLiteral(".conf");
}

bool RecordProgramPath(const QString& programPath, const QString& caption, QWidget* parent) {
  const QString fileName = SettingsFileName();
  bool ok = QDir().mkpath(QFileInfo(fileName).absolutePath());
  if (ok) {
    QSettings s(fileName, QSettings::IniFormat);
    s.setValue(QStringLiteral("Path"), programPath);
    s.sync();
    ok = s.status() == QSettings::NoError;
  }
  if (!ok) ShowBox(parent, caption, text::kRegistryFailed + fileName, TBoxIcon::Stop, BB_Ok);
  return ok;
}

namespace {

QString ReadSetting(const QString& key) {
  QSettings s(SettingsFileName(), QSettings::IniFormat);
  return s.value(key).toString();
}

void WriteSetting(const QString& key, const QString& value) {
  if (!QDir().mkpath(QFileInfo(SettingsFileName()).absolutePath())) return;
  QSettings s(SettingsFileName(), QSettings::IniFormat);
  s.setValue(key, value);
  s.sync();
}

}  // namespace

QString LastJobFile() { return ReadSetting(QStringLiteral("LastJob")); }
void RememberLastJob(const QString& fileName) {
  WriteSetting(QStringLiteral("LastJob"), QFileInfo(fileName).absoluteFilePath());
}
QString LastSetFile() { return ReadSetting(QStringLiteral("LastSet")); }
void RememberLastSet(const QString& fileName) {
  WriteSetting(QStringLiteral("LastSet"), QFileInfo(fileName).absoluteFilePath());
}

QString JobDialogFolder() {
  QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  // A missing desktop folder would stand in the dialog's name field.
  if (!desktop.isEmpty() && QFileInfo(desktop).isDir()) return desktop;
  return QDir::homePath();
}

QString MimePackageFileName() {
  return XdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) +
         QStringLiteral("/mime/packages/vaultix-job.xml");
}

QString DesktopEntryFileName() {
  return XdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) +
         QStringLiteral("/applications/vaultix.desktop");
}

namespace {

// What marks the files RegisterFileAssociation writes, so that
// --unregister removes nothing else.  Files of older versions carry their
// comment line instead.
const QByteArray kDesktopMark = "X-Vaultix-Registered=true\n";
const QByteArray kOldDesktopMark = "Comment=Zálohovanie údajov Vaultix\n";
// (No double hyphen: XML comments cannot hold one.)
const QByteArray kMimeMark =
    "<!-- Registered by vaultix itself; its option unregister removes it. -->";
const QByteArray kOldMimeMark = "<comment>Záložná sada</comment>";

QString FindInDataDirs(const QString& below) {
  QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
  if (dirs.isEmpty()) dirs = QStringLiteral("/usr/local/share/:/usr/share/");
  for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
    if (!QDir::isAbsolutePath(dir)) continue;
    QString path = QDir::cleanPath(dir + QLatin1Char('/') + below);
    if (QFileInfo::exists(path)) return path;
  }
  return QString();
}

bool WrittenByUs(const QString& fileName, const QByteArray& mark, const QByteArray& oldMark) {
  QFile f(fileName);
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray text = f.read(1 << 16);
  return text.contains(mark) || text.contains(oldMark);
}

// Removes the file when this program wrote it; false when that failed.
bool RemoveOurs(const QString& fileName, const QByteArray& mark, const QByteArray& oldMark,
                QStringList& removed, QString& error) {
  if (!QFileInfo::exists(fileName) || !WrittenByUs(fileName, mark, oldMark)) return true;
  QFile f(fileName);
  if (!f.remove()) {
    error = fileName + QStringLiteral(": ") + f.errorString();
    return false;
  }
  removed << fileName;
  return true;
}

void RefreshDatabases() {
  RunTool(QStringLiteral("update-mime-database"),
          QFileInfo(QFileInfo(MimePackageFileName()).absolutePath()).absolutePath());
  RunTool(QStringLiteral("update-desktop-database"),
          QFileInfo(DesktopEntryFileName()).absolutePath());
}

}  // namespace

QString PackagedMenuEntry() {
  return FindInDataDirs(QStringLiteral("applications/vaultix.desktop"));
}
QString PackagedMimeType() { return FindInDataDirs(QStringLiteral("mime/packages/vaultix.xml")); }

bool UnregisterFileAssociation(QStringList& removed, QString& error) {
  const bool ok =
      RemoveOurs(DesktopEntryFileName(), kDesktopMark, kOldDesktopMark, removed, error) &&
      RemoveOurs(MimePackageFileName(), kMimeMark, kOldMimeMark, removed, error);
  if (!removed.isEmpty()) RefreshDatabases();
  return ok;
}

bool RegisterFileAssociation(const QString& programPath, QWidget* parent) {
  const QByteArray mime =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + kMimeMark + "\n" +
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
      "  <mime-type type=\"" +
      kMimeType.toUtf8() +
      "\">\n"
      "    <comment>Záložná sada</comment>\n"
      "    <glob pattern=\"*.sqt\"/>\n"
      "    <glob pattern=\"*.SQT\"/>\n"
      "  </mime-type>\n"
      "</mime-info>\n";
  // The Exec key quotes the program's path when it holds characters the
  // desktop entry rules reserve.
  QString exec = programPath;
  if (exec.contains(QRegularExpression(QStringLiteral("[\\s\"'\\\\><~|&;$*?#()`]")))) {
    exec.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    exec.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    exec.replace(QLatin1Char('`'), QStringLiteral("\\`"));
    exec.replace(QLatin1Char('$'), QStringLiteral("\\$"));
    exec = QLatin1Char('"') + exec + QLatin1Char('"');
  }
  exec.replace(QLatin1Char('%'), QStringLiteral("%%"));
  const QByteArray desktop =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Vaultix\n"
      "Comment=Zálohovanie údajov Vaultix\n"
      "Exec=" +
      exec.toUtf8() +
      " %f\n"
      "Icon=drive-harddisk\n"
      "Terminal=false\n"
      "Categories=Utility;Archiving;\n"
      "MimeType=" +
      kMimeType.toUtf8() + ";\n" + kDesktopMark;
  // What a package installed is used as it is: a copy of ours in the user's
  // folders would hide it, and outlive its removal.
  const bool packagedMime = !PackagedMimeType().isEmpty();
  const bool packagedEntry = !PackagedMenuEntry().isEmpty();
  QStringList removed;
  QString failed;
  bool ok = true;
  if (packagedMime) {
    ok = RemoveOurs(MimePackageFileName(), kMimeMark, kOldMimeMark, removed, failed);
  } else if (!WriteTextFile(MimePackageFileName(), mime)) {
    ok = false;
    failed = MimePackageFileName();
  }
  if (ok && packagedEntry) {
    ok = RemoveOurs(DesktopEntryFileName(), kDesktopMark, kOldDesktopMark, removed, failed);
  } else if (ok && !WriteTextFile(DesktopEntryFileName(), desktop)) {
    ok = false;
    failed = DesktopEntryFileName();
  }
  if (!ok) {
    ShowError(parent, QStringLiteral("Unable to write to %1").arg(failed));
    return false;
  }
  if (!packagedMime || !packagedEntry || !removed.isEmpty()) RefreshDatabases();
  return true;
}

QString DesktopLogFolder() {
  // The folder the status window writes its logs to.
  QString folder = QString::fromStdString(vx::RunLogFolder());
  QDir().mkpath(folder);
  return folder;
}

}  // namespace vx::ui
