// The set's Linux metadata table: built for a backup, applied after a
// restore, compared by a verify.
#include "engine/metadata.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <string_view>

#include "archive/errors.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/target_writer.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr std::uint32_t kSetIdBits = 06000;
constexpr std::uint32_t kNoId = 0xFFFFFFFF;

// Names of ids, each looked up once.
class TNames {
 public:
  explicit TNames(std::string (*lookUp)(std::uint32_t)) : lookUp_(lookUp) {}
  void Note(std::uint32_t id) {
    if (seen_.emplace(id, true).second) {
      std::string name = lookUp_(id);
      if (!name.empty()) names_[id] = std::move(name);
    }
  }
  std::map<std::uint32_t, std::string> Take() { return std::move(names_); }

 private:
  std::string (*lookUp_)(std::uint32_t);
  std::map<std::uint32_t, bool> seen_;
  std::map<std::uint32_t, std::string> names_;
};

void AddXattrs(const std::string& path, TMetaEntry& e) {
  TXattrList list;
  // Attributes that cannot be read are left out (the content is taken).
  if (!ReadXattrs(path, list)) return;
  for (auto& [name, value] : list) {
    if (name.size() > 255 || value.size() > kMaxXattrValue) continue;
    e.xattrs.push_back({std::move(name), std::move(value)});
  }
}

std::string NameOf(std::string_view target) {
  return std::string(target.substr(target.rfind('/') + 1));
}

// Whether the text of a link placed at `target` leads out of `root` (the
// folder a redirected restore writes to, with its trailing "/").
bool LeadsOutside(const std::string& target, const std::string& text, const std::string& root) {
  if (text.empty() || text[0] == '/') return true;
  int depth = 0;
  for (std::size_t i = root.size(); i < target.size(); ++i)
    if (target[i] == '/') ++depth;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(text.find('/', start), text.size());
    const std::string_view part = std::string_view(text).substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return true;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    if (end == text.size()) return false;
    start = end + 1;
  }
}

struct TItem {
  const TMetaEntry* entry = nullptr;
  std::string target;
  bool present = false;  // there now, made or restored by this run
};

class TApplier {
 public:
  TApplier(const TMetaTable& table, const TMetaApplyTarget& t)
      : table_(table), t_(t), root_(MayChangeOwners()) {}

  void Run() {
    Collect();
    std::sort(items_.begin(), items_.end(),
              [](const TItem& a, const TItem& b) { return a.target < b.target; });
    // Folders first, parents before children; then second names and special
    // files; links last and deepest first, so that no later step of this
    // run goes through a link it made.
    for (TItem& item : items_)
      if (item.entry->kind == TMetaKind::Folder) Make(item);
    for (TItem& item : items_)
      if (item.entry->kind != TMetaKind::Folder && item.entry->kind != TMetaKind::Symlink)
        Make(item);
    for (auto it = items_.rbegin(); it != items_.rend(); ++it)
      if (it->entry->kind == TMetaKind::Symlink) Make(*it);
    // Children before their folder: a folder's time is set after its
    // entries changed.
    for (auto it = items_.rbegin(); it != items_.rend(); ++it)
      if (it->present && it->entry->kind != TMetaKind::HardLink) Attributes(*it);
  }

 private:
  void Collect() {
    const TVaultrex& s = t_.settings;
    for (const TMetaEntry& e : table_.entries) {
      TItem item;
      item.entry = &e;
      if (e.kind == TMetaKind::File) {
        if (e.index >= t_.restored.size() || t_.restored[e.index].empty()) continue;
        item.target = t_.restored[e.index];
        item.present = true;
      } else {
        if (!s.SelectedForRestore(e.path)) continue;
        if (e.kind == TMetaKind::Folder && s.RedirectRestore && s.FlatRestore) continue;
        TDirRecord record;
        record.path = e.path;
        TVaultrex::TRestorePlan plan = s.PlanRestore(record, false);
        if (!plan.refusal.empty()) {
          t_.warn(e.path, KindText(e.kind), plan.refusal);
          continue;
        }
        item.target = std::move(plan.target);
        while (item.target.size() > 1 && item.target.back() == '/') item.target.pop_back();
        // Only a restore of everything changes what stands there already.
        if (s.RestoreMode != RM_All && PathEntryExists(item.target)) continue;
      }
      items_.push_back(std::move(item));
    }
  }

  static const char* KindText(TMetaKind kind) {
    switch (kind) {
      case TMetaKind::Folder:
        return engine_txt::kMetaFolder;
      case TMetaKind::Symlink:
        return engine_txt::kMetaLink;
      case TMetaKind::HardLink:
        return engine_txt::kMetaHardLink;
      case TMetaKind::File:
        return engine_txt::kMetaMode;
      default:
        return engine_txt::kMetaSpecial;
    }
  }

  // The folder of a target, opened as the restore opens it.
  std::shared_ptr<const TFd> Folder(const TItem& item, const char* what) {
    const TTargetPlace place = t_.folders.Place(item.target);
    if (!place.dir) {
      t_.warn(item.target, what,
              place.refused ? std::string(engine_txt::kForeignLink) : SystemReason(place.err));
    }
    return place.dir;
  }

  void Make(TItem& item) {
    const TMetaEntry& e = *item.entry;
    const char* what = KindText(e.kind);
    if (e.kind == TMetaKind::Fifo || e.kind == TMetaKind::Socket ||
        e.kind == TMetaKind::CharDevice || e.kind == TMetaKind::BlockDevice) {
      if (!root_) {
        t_.warn(item.target, what, engine_txt::kMetaNeedsRoot);
        return;
      }
    }
    if (e.kind == TMetaKind::Symlink && t_.settings.RedirectRestore &&
        LeadsOutside(item.target, e.target, t_.folders.Root())) {
      t_.warn(item.target, what, engine_txt::kMetaLinkOutside);
      return;
    }
    std::string first;
    if (e.kind == TMetaKind::HardLink) {
      if (e.index >= t_.restored.size() || t_.restored[e.index].empty()) {
        t_.warn(item.target, what, engine_txt::kMetaFirstName);
        return;
      }
      first = t_.restored[e.index];
    }
    const auto dir = Folder(item, what);
    if (!dir) return;
    const std::string name = NameOf(item.target);
    int err = 0;
    switch (e.kind) {
      case TMetaKind::Folder:
        err = MakeFolderAt(dir->Get(), name);
        break;
      case TMetaKind::Symlink:
        err = MakeSymlinkAt(dir->Get(), name, e.target);
        break;
      case TMetaKind::HardLink: {
        TItem from;
        from.target = first;
        const auto fromDir = Folder(from, what);
        if (!fromDir) return;
        err = MakeHardLinkAt(fromDir->Get(), NameOf(first), dir->Get(), name);
        break;
      }
      case TMetaKind::Fifo:
        err = MakeNodeAt(dir->Get(), name, S_IFIFO, 0);
        break;
      case TMetaKind::Socket:
        err = MakeNodeAt(dir->Get(), name, S_IFSOCK, 0);
        break;
      case TMetaKind::CharDevice:
        err = MakeNodeAt(dir->Get(), name, S_IFCHR, e.rdev);
        break;
      case TMetaKind::BlockDevice:
        err = MakeNodeAt(dir->Get(), name, S_IFBLK, e.rdev);
        break;
      case TMetaKind::File:
        break;
    }
    if (err != 0) {
      t_.warn(item.target, what, SystemReason(err));
      return;
    }
    item.present = true;
  }

  // The owner the table names: as root by name first, then by number.
  void Ids(const TMetaEntry& e, std::uint32_t& uid, std::uint32_t& gid) const {
    uid = e.uid;
    gid = e.gid;
    if (!root_) return;
    if (const auto u = table_.users.find(e.uid); u != table_.users.end()) UserIdOf(u->second, uid);
    if (const auto g = table_.groups.find(e.gid); g != table_.groups.end())
      GroupIdOf(g->second, gid);
  }

  void Attributes(const TItem& item) {
    const TMetaEntry& e = *item.entry;
    const auto dir = Folder(item, engine_txt::kMetaMode);
    if (!dir) return;
    const int fd = dir->Get();
    const std::string name = NameOf(item.target);
    const bool link = e.kind == TMetaKind::Symlink;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    Ids(e, uid, gid);
    bool ownerKept = true;  // the item belongs to the owner the table names
    TNodeMeta now;
    if (!NodeMetaAt(fd, name, now)) {
      t_.warn(item.target, engine_txt::kMetaMode, SystemReason(errno));
      return;
    }
    // -1 means "no change" to the system: an owner no backup can record.
    if (uid == kNoId || gid == kNoId) {
      ownerKept = false;
      t_.warn(item.target, engine_txt::kMetaOwner, engine_txt::kMetaBadOwner);
    } else if (now.uid != uid || now.gid != gid) {
      if (!root_ && (now.uid != uid || !InGroup(gid))) {
        ownerKept = false;
        t_.warn(item.target, engine_txt::kMetaOwner, engine_txt::kMetaNotOwner);
      } else if (const int err = ChangeOwnerAt(fd, name, uid, gid)) {
        ownerKept = false;
        t_.warn(item.target, engine_txt::kMetaOwner, SystemReason(err));
      }
    }
    if (!link && t_.settings.StoreXattrs && !e.xattrs.empty()) {
      TXattrList list;
      for (const TMetaXattr& x : e.xattrs) list.emplace_back(x.name, x.value);
      if (const int err = SetXattrsAt(fd, name, list))
        t_.warn(item.target, engine_txt::kMetaXattrs, SystemReason(err));
    }
    if (!link) {
      std::uint32_t mode = e.mode;
      // A set-id bit is given only to a file of the owner the table names:
      // never to a file of the running user that another user's was.
      if ((mode & kSetIdBits) != 0 && !ownerKept) {
        mode &= ~kSetIdBits;
        t_.warn(item.target, engine_txt::kMetaMode, engine_txt::kMetaSetIdDropped);
      }
      if (const int err = ChangeModeAt(fd, name, mode))
        t_.warn(item.target, engine_txt::kMetaMode, SystemReason(err));
    }
    if (const int err = SetTimesAt(fd, name, e.atimeNs, e.mtimeNs, !e.hasAtime))
      t_.warn(item.target, engine_txt::kMetaTimes, SystemReason(err));
  }

  const TMetaTable& table_;
  const TMetaApplyTarget& t_;
  const bool root_;
  std::vector<TItem> items_;
};

}  // namespace

TMetaEntry MetaEntryOf(TMetaKind kind, const TNodeMeta& node) {
  TMetaEntry e;
  e.kind = kind;
  e.mode = static_cast<std::uint16_t>(node.mode & 07777);
  e.uid = node.uid;
  e.gid = node.gid;
  e.mtimeNs = node.mtimeNs;
  e.rdev = node.rdev;
  return e;
}

bool IsMetaTableRecord(const TDirRecord& record) { return record.path == kMetaTablePath; }

TMetaTable BuildMetaTable(const std::vector<TDirRecord>& files,
                          const std::vector<TMetaEntry>& extras, bool xattrs) {
  TMetaTable table;
  TNames users(&UserNameOf);
  TNames groups(&GroupNameOf);
  table.entries.reserve(files.size() + extras.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    TMetaEntry& e = table.entries.emplace_back(MetaEntryOf(TMetaKind::File, files[i].node));
    e.index = static_cast<std::uint32_t>(i);
    if (xattrs && files[i].node.xattrs) AddXattrs(files[i].path, e);
  }
  for (const TMetaEntry& extra : extras) {
    TMetaEntry& e = table.entries.emplace_back(extra);
    if (xattrs && e.kind != TMetaKind::Symlink && e.kind != TMetaKind::HardLink)
      AddXattrs(e.path, e);
  }
  for (const TMetaEntry& e : table.entries) {
    users.Note(e.uid);
    groups.Note(e.gid);
  }
  table.users = users.Take();
  table.groups = groups.Take();
  return table;
}

void ApplyMetaTable(const TMetaTable& table, const TMetaApplyTarget& target) {
  TApplier(table, target).Run();
}

TMetaDifferences CompareMeta(const TMetaEntry& e, const std::string& path) {
  TMetaDifferences d;
  TNodeMeta now;
  if (!ReadNodeMeta(path, now)) {
    d.missing = true;
    return d;
  }
  const bool link = e.kind == TMetaKind::Symlink;
  if (link) {
    std::string text;
    d.link = !S_ISLNK(now.mode) || !ReadLinkText(path, text) || text != e.target;
  } else {
    d.mode = (now.mode & 07777) != e.mode;
  }
  d.owner = now.uid != e.uid || now.gid != e.gid;
  d.time = now.mtimeNs != e.mtimeNs;
  return d;
}

}  // namespace vx
