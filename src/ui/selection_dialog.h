#pragma once
// The one dialog through which the main window picks a path (a set to read,
// files or masks to include or exclude, the backup folder, the restore
// folder), and the path checks the main window's pages use.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTreeView;

namespace vx::ui {

enum TSelectionMode : unsigned char {
  SM_ArchiveSet = 0,
  SM_Files = 1,
  SM_BackupTarget = 2,
  SM_RestoreTarget = 3,
};

// The chosen text, or empty when cancelled; in SM_Files mode " /S" is
// appended when subfolders were asked for.
QString SelectPath(TSelectionMode mode, const QString& initial, QWidget* parent = nullptr);

// Tests answer SelectPath instead of a person (nullptr: the real dialog).
using TSelectPathHook = std::function<QString(TSelectionMode, const QString&)>;
void SetSelectPathHook(TSelectPathHook hook);

// True when folder (ending in "/") holds an entry matching mask; with
// recursive also anywhere below it (links to folders are not followed).
bool FilesExist(const QString& folder, const QString& mask, bool recursive);
// False for a text holding \ / : * ? " < > |; true otherwise (also for "").
bool IsValidFileName(const QString& text);
// An existing folder or a mounted file system's root.
bool DirectoryOrDriveExists(const QString& path);
// True when the folder exists or the user agreed to create it and it now exists.
bool EnsureDirectory(const QString& path, QWidget* parent = nullptr);

// The mounted file systems that hold files (no pseudo file systems), by mount
// point, from a text in the format of /proc/self/mounts.
QStringList MountPointsFrom(const QString& mountsText);
QStringList MountPoints();  // of this system, "/" first

// The errno of opening a drive's root (0 when it opens); tests replace it.
using TDriveProbe = std::function<int(const QString&)>;
void SetDriveProbe(TDriveProbe probe);

class TSelectionForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSelectionForm(TSelectionMode mode, QWidget* parent = nullptr);

  TSelectionMode Mode() const { return mode_; }
  // Places the dialog on the drive holding initial and on its folder; the
  // file named by initial (if any) becomes the selection.
  void StartAt(const QString& initial);
  // The text SelectPath returns when OK is pressed.
  QString Result() const;

  // The steps the controls trigger, callable directly.
  void FolderChanged(const QString& folder);
  void FileChosen(const QString& fullName);
  void DriveChanged(int index);
  bool CheckOk();  // true when the dialog may close with OK

  QString CurrentFolder() const { return folder_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void accept() override;

  TSelectionMode mode_;
  QString folder_;
  QString drive_;
  QLineEdit* edit_;
  QLabel* label_;
  QComboBox* drives_;
  QTreeView* folders_;
  QListView* files_;
  QFileSystemModel* folderModel_;
  QFileSystemModel* fileModel_;
  QCheckBox* include_;
  QPushButton* ok_;
  bool switchingDrive_ = false;
};

}  // namespace vx::ui
