#pragma once
// The tree of a set's stored files on the restore tab: drives (or "/"),
// folders and files, each with a check box, the files' sizes and dates, and
// the sorted list of the checked files' stored paths that a restore is given.
#include <QStringList>
#include <QTreeWidget>
#include <string>
#include <vector>

namespace vx::ui {

// Image indexes of the trees (the main window's image list).
enum TTreeImage { TI_Drive = 0, TI_Folder = 1, TI_File = 2, TI_Unchecked = 3, TI_Checked = 4 };
// Item data roles holding the image and the state image.
inline constexpr int kImageRole = Qt::UserRole + 1;
inline constexpr int kStateRole = Qt::UserRole + 2;
// The tree's columns.
enum TRestoreColumn { RC_Name = 0, RC_Size = 1, RC_Date = 2 };

// A stored file as the set's catalog gives it.
struct TStoredEntry {
  QString Path;
  qint64 Size = -1;  // -1: not known
  double Time = 0;   // days since 1899-12-30, local time; 0: not known
};

// A tree node's image shown as an icon; the image index kept for readers.
void SetNodeImage(QTreeWidgetItem* item, int image);

class TRestoreTree : public QTreeWidget {
  Q_OBJECT
 public:
  explicit TRestoreTree(QWidget* parent = nullptr);

  // Fills the tree from stored paths (in catalog order); the selection is
  // emptied and every node starts unchecked.  The folders are opened down to
  // the first level that holds a file.
  void Fill(const std::vector<std::string>& storedPaths);
  // The same from a set's catalog, with each file's size and date.
  void Fill(const std::vector<TStoredEntry>& entries);
  void Clear();

  // The node of a folder path (ending in the separator), created with its
  // root and intermediate folders as needed.
  QTreeWidgetItem* FolderNode(const QString& path);
  // The direct child of parent (nullptr: a root node) whose text is exactly text.
  QTreeWidgetItem* FindChildNode(QTreeWidgetItem* parent, const QString& text) const;
  // The stored path of a file node; empty for any other node.
  static QString NodePath(const QTreeWidgetItem* node);
  // Checks or unchecks the selected node, its subtree and (when checking) its
  // ancestors; nothing without a selected node.
  void ToggleRestoreNode();
  void SetSubtreeState(QTreeWidgetItem* node, bool checked);

  // TI_Checked or TI_Unchecked: a ticked file, or a folder ticked itself or
  // through a file below it.  Its box shows Qt::PartiallyChecked for a
  // ticked folder where not every file below is ticked.
  static int State(const QTreeWidgetItem* node);

  // The stored paths of the checked files, sorted, without duplicates.
  const QStringList& Selection() const { return selection_; }
  void ClearSelection() { selection_.clear(); }

 signals:
  void Busy(const QString& statusText);  // "" when done

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void ExpandToFirstFiles();
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& text, int image);
  void Select(const QString& path, bool checked);
  static void SetState(QTreeWidgetItem* node, int state);
  // Shows each folder's box as ticked, partly ticked or not from the files
  // below it.
  void UpdateFolderBoxes();

  QStringList selection_;
};

// Folder part of a stored path (up to and including its last separator; a
// path written on Windows also ends its drive at ":").
QString StoredFolderPart(const QString& path);

}  // namespace vx::ui
