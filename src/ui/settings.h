#pragma once
// What the desktop program keeps outside itself: its path in the user's
// settings file, the job-file type registered with the desktop, and the
// folder of its logs.
#include <QString>
#include <QStringList>

class QWidget;

namespace vx::ui {

// ${XDG_CONFIG_HOME:-~/.config}/Zarel/<internal name>.conf
QString SettingsFileName();
// Writes Path = programPath; on failure shows the error box captioned with
// caption and returns false (start-up goes on).
bool RecordProgramPath(const QString& programPath, const QString& caption, QWidget* parent);

// The last job file opened or saved (key LastJob) and the last set read on
// the restore or verify tab (key LastSet), kept in the same file between
// starts; empty when none was kept.  Writing them is best effort.
QString LastJobFile();
void RememberLastJob(const QString& fileName);
QString LastSetFile();
void RememberLastSet(const QString& fileName);

// The folder the job-file dialogs start in: the XDG desktop folder when it
// exists, else the home folder.
QString JobDialogFolder();

// Declares *.sqt as a MIME type (${XDG_DATA_HOME:-~/.local/share}/mime/packages)
// and a .desktop entry that opens it with programPath (…/applications), then
// refreshes the desktop's databases when their tools exist.  Each of the two
// is left out when an installed package provides it (PackagedMenuEntry,
// PackagedMimeType), and one this program wrote before is removed then, as
// it would hide the package's.  A failure is shown in the application's error
// box; returns false then.
bool RegisterFileAssociation(const QString& programPath, QWidget* parent);
QString MimePackageFileName();
QString DesktopEntryFileName();
// The menu entry and job-file type of an installed package, found in
// ${XDG_DATA_DIRS:-/usr/local/share:/usr/share}; "" when there is none.
QString PackagedMenuEntry();
QString PackagedMimeType();
// "vaultix --unregister": removes the menu entry and the MIME file this
// program wrote (a file of that name without its mark stays), then
// refreshes the databases.  removed lists the files removed; false, with
// error, when one could not be removed.
bool UnregisterFileAssociation(QStringList& removed, QString& error);

// The folder of the run logs (see RunLogFolder), created when missing.
QString DesktopLogFolder();

}  // namespace vx::ui
