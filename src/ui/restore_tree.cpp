#include "ui/restore_tree.h"

#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMap>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <cmath>
#include <functional>

#include "ui/texts.h"

namespace vx::ui {
namespace {

const QString kLinuxRoot = QStringLiteral("/");

bool IsLinuxPath(const QString& path) { return path.startsWith(QLatin1Char('/')); }

// Paths written on Linux differ by letter case; those written on Windows do not.
Qt::CaseSensitivity CaseOf(const QString& path) {
  return IsLinuxPath(path) ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

bool PathLess(const QString& a, const QString& b) { return QString::compare(a, b, CaseOf(a)) < 0; }

// Children are kept in alphabetical order of their texts.
bool TextLess(const QString& a, const QString& b) {
  const int c = QString::compare(a, b, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

QIcon ImageIcon(int image) {
  QStyle* s = QApplication::style();
  switch (image) {
    case TI_Drive:
      return s->standardIcon(QStyle::SP_DriveHDIcon);
    case TI_Folder:
      return s->standardIcon(QStyle::SP_DirIcon);
    default:
      return s->standardIcon(QStyle::SP_FileIcon);
  }
}

// A stored date (days since 1899-12-30, local time) in the locale's short
// date and time; empty for none.
QString DateText(double time) {
  if (time <= 0) return {};
  const double days = std::floor(time);
  const auto ms = static_cast<int>(std::llround((time - days) * 86400000.0)) % 86400000;
  const QDateTime at(QDate(1899, 12, 30).addDays(static_cast<qint64>(days)),
                     QTime::fromMSecsSinceStartOfDay(ms));
  return QLocale().toString(at, QLocale::ShortFormat);
}

}  // namespace

void SetNodeImage(QTreeWidgetItem* item, int image) {
  item->setData(0, kImageRole, image);
  item->setIcon(0, ImageIcon(image));
}

QString StoredFolderPart(const QString& path) {
  if (IsLinuxPath(path)) return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
  const qsizetype cut =
      std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':')));
  return path.left(cut + 1);
}

TRestoreTree::TRestoreTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("RestoreTree"));
  setColumnCount(3);
  setHeaderLabels({text::kColumnName, text::kColumnSize, text::kColumnDate});
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(RC_Name, QHeaderView::Stretch);
  header()->setSectionResizeMode(RC_Size, QHeaderView::ResizeToContents);
  header()->setSectionResizeMode(RC_Date, QHeaderView::ResizeToContents);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformRowHeights(true);
}

int TRestoreTree::State(const QTreeWidgetItem* node) { return node->data(0, kStateRole).toInt(); }

void TRestoreTree::SetState(QTreeWidgetItem* node, int state) {
  node->setData(0, kStateRole, state);
  node->setData(0, Qt::CheckStateRole, state == TI_Checked ? Qt::Checked : Qt::Unchecked);
}

QTreeWidgetItem* TRestoreTree::AddNode(QTreeWidgetItem* parent, const QString& text, int image) {
  auto* item = new QTreeWidgetItem(QStringList{text});
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  SetNodeImage(item, image);
  SetState(item, TI_Unchecked);
  // Binary search for the alphabetical place among the siblings.
  int lo = 0;
  int hi = parent ? parent->childCount() : topLevelItemCount();
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    const QTreeWidgetItem* m = parent ? parent->child(mid) : topLevelItem(mid);
    if (TextLess(m->text(0), text))
      lo = mid + 1;
    else
      hi = mid;
  }
  if (parent)
    parent->insertChild(lo, item);
  else
    insertTopLevelItem(lo, item);
  return item;
}

QTreeWidgetItem* TRestoreTree::FindChildNode(QTreeWidgetItem* parent, const QString& text) const {
  const int n = parent ? parent->childCount() : topLevelItemCount();
  for (int i = 0; i < n; ++i) {
    QTreeWidgetItem* c = parent ? parent->child(i) : topLevelItem(i);
    if (c->text(0) == text) return c;
  }
  return nullptr;
}

QTreeWidgetItem* TRestoreTree::FolderNode(const QString& path) {
  const bool linux = IsLinuxPath(path);
  const QString rootText = linux ? kLinuxRoot : QLatin1Char('(') + path.left(2) + QLatin1Char(')');
  QTreeWidgetItem* node = FindChildNode(nullptr, rootText);
  if (!node) node = AddNode(nullptr, rootText, TI_Drive);
  const int start = linux ? 1 : 3;
  if (path.size() <= start) return node;
  const QChar sep = linux ? QLatin1Char('/') : QLatin1Char('\\');
  QString name;
  for (int i = start; i < path.size(); ++i) {
    if (path[i] != sep) {
      name += path[i];
      continue;
    }
    if (name.isEmpty()) continue;
    QTreeWidgetItem* child = FindChildNode(node, name);
    if (!child) child = AddNode(node, name, TI_Folder);
    node = child;
    name.clear();
  }
  return node;
}

QString TRestoreTree::NodePath(const QTreeWidgetItem* node) {
  if (!node || node->data(0, kImageRole).toInt() != TI_File) return {};
  const QTreeWidgetItem* root = node;
  while (root->parent()) root = root->parent();
  const QString rootText = root->text(0);
  const bool linux = rootText == kLinuxRoot;
  const QChar sep = linux ? QLatin1Char('/') : QLatin1Char('\\');
  if (root == node) return node->text(0);  // a file without any folder
  QString path = node->text(0);
  for (const QTreeWidgetItem* p = node->parent(); p; p = p->parent()) {
    if (p->parent())
      path = p->text(0) + sep + path;
    else if (linux)
      path = kLinuxRoot + path;
    else
      path = rootText.mid(1, 2) + sep + path;
  }
  return path;
}

void TRestoreTree::Clear() {
  clear();
  selection_.clear();
}

void TRestoreTree::Fill(const std::vector<std::string>& storedPaths) {
  std::vector<TStoredEntry> entries;
  entries.reserve(storedPaths.size());
  for (const std::string& s : storedPaths) entries.push_back({QString::fromStdString(s)});
  Fill(entries);
}

void TRestoreTree::Fill(const std::vector<TStoredEntry>& entries) {
  Clear();
  // The distinct folders, each looked up once (Windows paths without regard
  // to letter case, Linux paths exactly).
  QMap<QString, QString> folders;  // key -> first spelling seen
  auto keyOf = [](const QString& folder) {
    return CaseOf(folder) == Qt::CaseSensitive ? folder : folder.toLower();
  };
  for (const TStoredEntry& e : entries) {
    const QString folder = StoredFolderPart(e.Path);
    if (!folder.isEmpty() && !folders.contains(keyOf(folder)))
      folders.insert(keyOf(folder), folder);
  }
  QMap<QString, QTreeWidgetItem*> nodes;
  for (auto it = folders.cbegin(); it != folders.cend(); ++it)
    nodes.insert(it.key(), FolderNode(it.value()));

  QTreeWidgetItem* parent = nullptr;
  QString previous;
  bool first = true;
  const QLocale locale;
  for (const TStoredEntry& e : entries) {
    const QString folder = StoredFolderPart(e.Path);
    if (first || folder != previous) {
      parent = folder.isEmpty() ? nullptr : nodes.value(keyOf(folder));
      previous = folder;
      first = false;
    }
    QTreeWidgetItem* file = AddNode(parent, e.Path.mid(folder.size()), TI_File);
    // A long name is cut at the column's edge: the tooltip gives the whole path.
    file->setToolTip(RC_Name, e.Path);
    if (e.Size >= 0) {
      file->setText(RC_Size,
                    locale.formattedDataSize(e.Size, 1, QLocale::DataSizeTraditionalFormat));
      file->setTextAlignment(RC_Size, Qt::AlignRight | Qt::AlignVCenter);
    }
    file->setText(RC_Date, DateText(e.Time));
  }
  ExpandToFirstFiles();
}

// Every folder above the shallowest file is opened, so that the first files
// are in sight without opening the folders leading to them one by one.
void TRestoreTree::ExpandToFirstFiles() {
  QList<QTreeWidgetItem*> level;
  for (int i = 0; i < topLevelItemCount(); ++i) level << topLevelItem(i);
  while (!level.isEmpty()) {
    const bool holdsFile = std::any_of(level.cbegin(), level.cend(), [](const QTreeWidgetItem* n) {
      return n->data(0, kImageRole).toInt() == TI_File;
    });
    if (holdsFile) return;
    QList<QTreeWidgetItem*> next;
    for (QTreeWidgetItem* n : level) {
      n->setExpanded(true);
      for (int i = 0; i < n->childCount(); ++i) next << n->child(i);
    }
    level = next;
  }
}

void TRestoreTree::Select(const QString& path, bool checked) {
  if (path.isEmpty()) return;
  auto it = std::lower_bound(selection_.begin(), selection_.end(), path, PathLess);
  const bool present = it != selection_.end() && QString::compare(*it, path, CaseOf(path)) == 0;
  if (checked && !present) selection_.insert(it, path);
  if (!checked && present) selection_.erase(it);
}

void TRestoreTree::SetSubtreeState(QTreeWidgetItem* node, bool checked) {
  for (int i = 0; i < node->childCount(); ++i) {
    QTreeWidgetItem* c = node->child(i);
    Select(NodePath(c), checked);
    SetState(c, checked ? TI_Checked : TI_Unchecked);
    SetSubtreeState(c, checked);
  }
}

void TRestoreTree::ToggleRestoreNode() {
  QTreeWidgetItem* node = currentItem();
  if (!node || !node->isSelected()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  emit Busy(text::kSelectingFiles);
  const bool checked = State(node) == TI_Unchecked;
  Select(NodePath(node), checked);
  SetState(node, checked ? TI_Checked : TI_Unchecked);
  SetSubtreeState(node, checked);
  if (checked)
    for (QTreeWidgetItem* p = node->parent(); p; p = p->parent()) SetState(p, TI_Checked);
  UpdateFolderBoxes();
  QApplication::restoreOverrideCursor();
  emit Busy(QString());
}

void TRestoreTree::UpdateFolderBoxes() {
  // Counts the files below a node and the ticked ones; sets the folders' boxes.
  std::function<std::pair<int, int>(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* n) {
    if (n->data(0, kImageRole).toInt() == TI_File)
      return std::pair<int, int>{1, State(n) == TI_Checked ? 1 : 0};
    int files = 0;
    int ticked = 0;
    for (int i = 0; i < n->childCount(); ++i) {
      const auto [f, t] = walk(n->child(i));
      files += f;
      ticked += t;
    }
    Qt::CheckState box = Qt::Unchecked;
    if (State(n) == TI_Checked)
      box = files > 0 && ticked == files ? Qt::Checked : Qt::PartiallyChecked;
    n->setData(0, Qt::CheckStateRole, box);
    return std::pair<int, int>{files, ticked};
  };
  for (int i = 0; i < topLevelItemCount(); ++i) walk(topLevelItem(i));
}

void TRestoreTree::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
    ToggleRestoreNode();
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void TRestoreTree::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  QTreeWidgetItem* item = itemAt(event->position().toPoint());
  if (!item) return;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(indexFromItem(item, RC_Name));
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration;
  option.decorationSize = iconSize().isValid() ? iconSize() : QSize(16, 16);
  const QRect box = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
  if (box.contains(event->position().toPoint())) ToggleRestoreNode();
}

}  // namespace vx::ui
