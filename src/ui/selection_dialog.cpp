#include "ui/selection_dialog.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSet>
#include <QTreeView>
#include <QVBoxLayout>
#include <cerrno>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "ui/application.h"
#include "ui/message_boxes.h"
#include "ui/texts.h"

namespace vx::ui {
namespace {

struct TModeLook {
  const char* Caption;
  const char* Label;
};
// Window caption and label per mode.
constexpr TModeLook kModes[] = {
    {"Vyberte zálohovú sadu", "Zálohová sada:"},
    {"Výber zálohovej sady", "Súbor:"},
    {"Vyberte miesto pre uloženie zálohy", "Zálohovať do:"},
    {"Vyberte miesto kam sa majú obnoviť súbory", "Obnoviť do:"},
};

TSelectPathHook& PathHook() {
  static TSelectPathHook hook;
  return hook;
}

int OpenProbe(const QString& root) {
  DIR* d = ::opendir(QFile::encodeName(root).constData());
  if (d == nullptr) return errno;
  errno = 0;
  (void)::readdir(d);  // a drive that is not ready fails here rather than at the open
  const int err = errno;
  ::closedir(d);
  return err;
}

TDriveProbe& Probe() {
  static TDriveProbe probe = OpenProbe;
  return probe;
}

QString WithSlash(QString folder) {
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder;
}

// The mount point of the file system holding path (the longest match).
QString DriveOf(const QString& path, const QStringList& drives) {
  QString best = QStringLiteral("/");
  for (const QString& d : drives) {
    const QString prefix = WithSlash(d);
    if ((path == d || path.startsWith(prefix)) && d.size() > best.size()) best = d;
  }
  return best;
}

// Octal escapes of /proc/self/mounts (\040 for a blank and so on).
QString Unescape(const QString& field) {
  QByteArray out;
  const QByteArray in = field.toUtf8();
  for (int i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + 3 < in.size()) {
      bool ok = false;
      const int v = in.mid(i + 1, 3).toInt(&ok, 8);
      if (ok) {
        out.append(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    out.append(in[i]);
  }
  return QString::fromUtf8(out);
}

}  // namespace

void SetSelectPathHook(TSelectPathHook hook) { PathHook() = std::move(hook); }
void SetDriveProbe(TDriveProbe probe) { Probe() = probe ? std::move(probe) : OpenProbe; }

QString SelectPath(TSelectionMode mode, const QString& initial, QWidget* parent) {
  if (PathHook()) return PathHook()(mode, initial);
  TSelectionForm form(mode, parent);
  form.StartAt(initial);
  if (form.exec() != QDialog::Accepted) return {};
  return form.Result();
}

bool FilesExist(const QString& folder, const QString& mask, bool recursive) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  struct TRestore {
    ~TRestore() { QApplication::restoreOverrideCursor(); }
  } restore;
  const std::string dir = WithSlash(folder).toStdString();
  const std::string m = mask.toStdString();
  bool found = false;
  // Any entry of any kind, folders included.
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (vx::MatchSearchMask(m, name)) {
        found = true;
        break;
      }
    }
    ::closedir(d);
  }
  if (found || !recursive) return found;
  for (const std::string& sub : vx::FindSubfolders(dir, true)) {
    if (FilesExist(QString::fromStdString(dir + sub + "/"), mask, true)) return true;
  }
  return false;
}

bool IsValidFileName(const QString& text) {
  static const QString bad = QStringLiteral("\\/:*?\"<>|");
  for (const QChar c : text)
    if (bad.contains(c)) return false;
  return true;
}

bool DirectoryOrDriveExists(const QString& path) {
  if (path.isEmpty()) return false;
  QString p = path;
  while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  if (MountPoints().contains(p)) return true;
  return vx::DirectoryExists(path.toStdString());
}

bool EnsureDirectory(const QString& path, QWidget* parent) {
  if (DirectoryOrDriveExists(path)) return true;
  QWidget* active = QApplication::activeWindow();
  const QString caption = active ? active->windowTitle() : ApplicationTitle();
  if (ShowBox(parent, caption, text::kFolderMissing + path + text::kShallCreate, TBoxIcon::Question,
              BB_Yes | BB_No) != BB_Yes)
    return false;
  if (vx::ForceDirectories(path.toStdString()) && vx::DirectoryExists(path.toStdString()))
    return true;
  ShowBox(parent, caption, text::kCannotCreate + path, TBoxIcon::Stop, BB_Ok);
  return false;
}

QStringList MountPointsFrom(const QString& mountsText) {
  // File systems that hold no user files.
  static const QSet<QString> pseudo = {QStringLiteral("proc"),
                                       QStringLiteral("sysfs"),
                                       QStringLiteral("devtmpfs"),
                                       QStringLiteral("devpts"),
                                       QStringLiteral("cgroup"),
                                       QStringLiteral("cgroup2"),
                                       QStringLiteral("securityfs"),
                                       QStringLiteral("pstore"),
                                       QStringLiteral("bpf"),
                                       QStringLiteral("debugfs"),
                                       QStringLiteral("tracefs"),
                                       QStringLiteral("mqueue"),
                                       QStringLiteral("hugetlbfs"),
                                       QStringLiteral("fusectl"),
                                       QStringLiteral("configfs"),
                                       QStringLiteral("autofs"),
                                       QStringLiteral("binfmt_misc"),
                                       QStringLiteral("nsfs"),
                                       QStringLiteral("rpc_pipefs"),
                                       QStringLiteral("efivarfs"),
                                       QStringLiteral("ramfs"),
                                       QStringLiteral("selinuxfs"),
                                       QStringLiteral("fuse.gvfsd-fuse"),
                                       QStringLiteral("fuse.portal"),
                                       QStringLiteral("squashfs")};  // read-only application images
  static const QStringList systemTrees = {QStringLiteral("/proc"), QStringLiteral("/sys"),
                                          QStringLiteral("/dev"), QStringLiteral("/run")};
  QStringList out;
  for (const QString& line : mountsText.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (f.size() < 3) continue;
    const QString point = Unescape(f[1]);
    const QString& type = f[2];
    if (pseudo.contains(type)) continue;
    bool underSystem = false;
    for (const QString& s : systemTrees)
      if (point == s || point.startsWith(s + QLatin1Char('/'))) underSystem = true;
    // Memory file systems hold user files only outside the system's trees
    // (/tmp, for one); bind mounts of single files are not drives either.
    if (underSystem) continue;
    if (!out.contains(point)) out << point;
  }
  out.removeAll(QStringLiteral("/"));
  out.sort();
  out.prepend(QStringLiteral("/"));
  return out;
}

QStringList MountPoints() {
  QFile f(QStringLiteral("/proc/self/mounts"));
  if (!f.open(QIODevice::ReadOnly)) return {QStringLiteral("/")};
  return MountPointsFrom(QString::fromUtf8(f.readAll()));
}

// ---- The dialog -------------------------------------------------------------

TSelectionForm::TSelectionForm(TSelectionMode mode, QWidget* parent)
    : QDialog(parent), mode_(mode) {
  setObjectName(QStringLiteral("SelectionForm"));
  setWindowTitle(QStringLiteral("Výber zložiek a súborov"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  label_ = new QLabel(QStringLiteral("Vybraté:"), this);
  label_->setObjectName(QStringLiteral("SelectionLabel"));
  edit_ = new QLineEdit(QStringLiteral("*.*"), this);
  edit_->setObjectName(QStringLiteral("SelectionEdit"));
  label_->setBuddy(edit_);

  auto* dirLabel = new QLabel(QStringLiteral("Zložky"), this);
  dirLabel->setObjectName(QStringLiteral("DirectoriesLabel"));
  auto* fileLabel = new QLabel(QStringLiteral("Súbory"), this);
  fileLabel->setObjectName(QStringLiteral("FilesLabel"));
  auto* driveLabel = new QLabel(QStringLiteral("Zariadenia"), this);
  driveLabel->setObjectName(QStringLiteral("DrivesLabel"));

  folderModel_ = new QFileSystemModel(this);
  folderModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
  folderModel_->setRootPath(QStringLiteral("/"));
  folders_ = new QTreeView(this);
  folders_->setObjectName(QStringLiteral("DirectoryListBox"));
  folders_->setModel(folderModel_);
  for (int c = 1; c < folderModel_->columnCount(); ++c) folders_->hideColumn(c);
  folders_->header()->hide();
  folders_->installEventFilter(this);
  dirLabel->setBuddy(folders_);

  fileModel_ = new QFileSystemModel(this);
  fileModel_->setFilter(QDir::Files | QDir::Hidden | QDir::System);
  fileModel_->setNameFilterDisables(false);
  files_ = new QListView(this);
  files_->setObjectName(QStringLiteral("FileListBox"));
  files_->setModel(fileModel_);
  fileLabel->setBuddy(files_);

  drives_ = new QComboBox(this);
  drives_->setObjectName(QStringLiteral("DriveComboBox"));
  drives_->addItems(MountPoints());
  driveLabel->setBuddy(drives_);

  include_ = new QCheckBox(QStringLiteral("Zálohovať aj podzložky"), this);
  include_->setObjectName(QStringLiteral("IncludeCheck"));
  include_->setChecked(true);

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("OKButton"));
  ok_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Storno"), this);
  cancel->setObjectName(QStringLiteral("CancelButton"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(label_, 0, 0, 1, 2);
  grid->addWidget(edit_, 1, 0, 1, 2);
  grid->addWidget(dirLabel, 2, 0);
  grid->addWidget(fileLabel, 2, 1);
  grid->addWidget(folders_, 3, 0);
  grid->addWidget(files_, 3, 1);
  grid->addWidget(driveLabel, 4, 0);
  grid->addWidget(include_, 4, 1);
  grid->addWidget(drives_, 5, 0);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 5, 1);
  resize(620, 440);  // resizable: the lists grow with it

  // Per mode: caption, label, file list and the include box.
  const auto& look = kModes[mode_ <= SM_RestoreTarget ? mode_ : 0];
  setWindowTitle(QString::fromUtf8(look.Caption));
  label_->setText(QString::fromUtf8(look.Label));
  if (mode_ == SM_ArchiveSet) fileModel_->setNameFilters({QStringLiteral("*.001")});
  files_->setEnabled(mode_ == SM_ArchiveSet || mode_ == SM_Files);
  include_->setVisible(mode_ == SM_Files);

  setTabOrder(edit_, folders_);
  setTabOrder(folders_, files_);
  setTabOrder(files_, drives_);
  setTabOrder(drives_, include_);
  setTabOrder(include_, ok_);
  setTabOrder(ok_, cancel);

  connect(folders_, &QTreeView::clicked, this,
          [this](const QModelIndex& i) { FolderChanged(folderModel_->filePath(i)); });
  connect(folders_, &QTreeView::activated, this,
          [this](const QModelIndex& i) { FolderChanged(folderModel_->filePath(i)); });
  connect(files_, &QListView::clicked, this,
          [this](const QModelIndex& i) { FileChosen(fileModel_->filePath(i)); });
  // A double-click picks the file: as a click on it and then OK.
  connect(files_, &QListView::doubleClicked, this, [this](const QModelIndex& i) {
    FileChosen(fileModel_->filePath(i));
    accept();
  });
  connect(drives_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (!switchingDrive_) DriveChanged(i);
  });
  // The folder list fills in the background: keep the current folder in view.
  connect(folderModel_, &QFileSystemModel::directoryLoaded, this, [this] {
    folders_->scrollTo(folders_->currentIndex(), QAbstractItemView::PositionAtCenter);
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ok_, &QPushButton::clicked, this, &TSelectionForm::accept);
  edit_->setFocus();
}

void TSelectionForm::StartAt(const QString& initial) {
  QString folder;
  QString name;
  if (!initial.isEmpty()) {
    folder = QString::fromStdString(vx::ExtractFilePath(initial.toStdString()));
    name = QString::fromStdString(vx::ExtractFileName(initial.toStdString()));
  }
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    folder = QDir::currentPath();
    name.clear();
  }
  const QStringList drives = MountPoints();
  const QString drive = DriveOf(folder, drives);
  switchingDrive_ = true;
  drives_->setCurrentIndex(0);
  const int index = drives_->findText(drive);
  if (index >= 0) drives_->setCurrentIndex(index);
  switchingDrive_ = false;
  drive_ = drives_->currentText();
  folderModel_->setRootPath(drive_);
  folders_->setRootIndex(folderModel_->index(drive_));
  if (DriveOf(folder, drives) == drive_) {
    FolderChanged(folder);
    if (!name.isEmpty() && QFileInfo(WithSlash(folder) + name).isFile())
      FileChosen(WithSlash(folder) + name);
  } else {
    FolderChanged(drive_);
  }
}

void TSelectionForm::FolderChanged(const QString& path) {
  // The folder list names a folder without a trailing "/" (the root aside).
  const QString folder = QDir::cleanPath(path);
  folder_ = folder;
  const QModelIndex fi = folderModel_->index(folder);
  if (fi.isValid()) {
    folders_->setCurrentIndex(fi);
    folders_->scrollTo(fi);
  }
  fileModel_->setRootPath(folder);
  files_->setRootIndex(fileModel_->index(folder));
  QString t = folder;
  if (mode_ == SM_ArchiveSet || mode_ == SM_Files) t = WithSlash(t);
  if (mode_ == SM_ArchiveSet) t += QStringLiteral("*.001");
  if (mode_ == SM_Files) {
    const QStringList masks = fileModel_->nameFilters();
    t += masks.isEmpty() ? QStringLiteral("*") : masks.constFirst();
    include_->setEnabled(true);
  }
  edit_->setText(t);
}

void TSelectionForm::FileChosen(const QString& fullName) {
  edit_->setText(fullName);
  include_->setEnabled(false);  // a single file has no subfolders
}

void TSelectionForm::DriveChanged(int index) {
  for (;;) {
    const QString wanted = drives_->itemText(index);
    // Only a device that is not ready stops the switch; other errors are let
    // be (the lists then show what can be read).
    if (Probe()(wanted) != EIO) {
      drive_ = wanted;
      folderModel_->setRootPath(drive_);
      folders_->setRootIndex(folderModel_->index(drive_));
      FolderChanged(drive_);
      return;
    }
    const TBoxButton b = ShowBox(this, ApplicationTitle(), wanted + text::kNotAccessible,
                                 TBoxIcon::Stop, BB_Retry | BB_Cancel);
    if (b != BB_Retry) {
      // Back to the drive the dialog stood on, and its folder.
      switchingDrive_ = true;
      index = std::max(0, drives_->findText(drive_));
      drives_->setCurrentIndex(index);
      switchingDrive_ = false;
    }
  }
}

QString TSelectionForm::Result() const {
  QString r = edit_->text();
  if (mode_ == SM_Files && include_->isVisibleTo(this) && include_->isEnabled() &&
      include_->isChecked())
    r += text::kRecursionMarker;
  return r;
}

bool TSelectionForm::CheckOk() {
  const QString t = edit_->text();
  switch (mode_) {
    case SM_ArchiveSet:
      if (!QFileInfo(t).isFile() || t.contains(QLatin1Char('*')) || t.contains(QLatin1Char('?'))) {
        ShowBox(this, windowTitle(), text::kSetNotFound, TBoxIcon::Stop, BB_Ok);
        return false;
      }
      return true;
    case SM_Files: {
      const qsizetype cut = t.lastIndexOf(QLatin1Char('/'));
      const QString folder = t.left(cut + 1);
      const QString mask = t.mid(cut + 1);
      const bool recursive =
          include_->isVisibleTo(this) && include_->isEnabled() && include_->isChecked();
      if (!FilesExist(folder, mask, recursive)) {
        ShowBox(this, windowTitle(), text::kFilesNotFound, TBoxIcon::Stop, BB_Ok);
        return false;
      }
      return true;
    }
    case SM_BackupTarget:
    case SM_RestoreTarget:
      return EnsureDirectory(t, this);
  }
  return false;
}

void TSelectionForm::accept() {
  if (CheckOk()) QDialog::accept();
}

bool TSelectionForm::eventFilter(QObject* watched, QEvent* event) {
  // While the folder list has the focus, Enter opens a folder instead of
  // closing the dialog.
  if (watched == folders_) {
    if (event->type() == QEvent::FocusIn) ok_->setDefault(false);
    if (event->type() == QEvent::FocusOut) ok_->setDefault(true);
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vx::ui
