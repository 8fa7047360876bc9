// Where a restore writes each stored path, and whether it may: the restore's
// selection and its refusals of paths that would leave the chosen folder.
#include <algorithm>
#include <string_view>
#include <vector>

#include "engine/selection.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/target_writer.h"
#include "support/path_names.h"
#include "support/strings.h"
#include "support/utils.h"

namespace vx {

namespace {

// Why a path relative to its starting folder may not be restored: a NUL
// byte, or a component that is empty, "." or "..".  Empty when it may.
std::string PathRefusal(const std::string& rel) {
  if (rel.find('\0') != std::string::npos) return engine_txt::kBadComponent;
  // Component by component, without copying any (this runs for every file).
  const std::string_view path(rel);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") return engine_txt::kParentComponent;
    if (part.empty() || part == ".") return engine_txt::kBadComponent;
    if (end == path.size()) return {};
    start = end + 1;
  }
}

// A stored path below the restore folder: a drive letter and the leading
// separators go, "\" becomes "/".
std::string RelativeStoredPath(const std::string& path) {
  std::string shortPath = path;
  if (IsForeignPath(shortPath)) {
    if (shortPath.size() >= 2 && shortPath[1] == ':') shortPath.erase(0, 2);
    for (char& c : shortPath) c = c == '\\' ? '/' : c;
    // "\\server\share": both leading separators go.
    while (shortPath.size() > 1 && shortPath[0] == '/' && shortPath[1] == '/')
      shortPath.erase(0, 1);
  }
  if (!shortPath.empty() && shortPath[0] == '/') shortPath.erase(0, 1);
  return shortPath;
}

}  // namespace

bool TVaultrex::SelectedForRestore(const std::string& path) const {
  return SelectedByIncludes(IncludeNames, RecurseSubDir, path);
}

TVaultrex::TRestorePlan TVaultrex::PlanRestore(const TDirRecord& r, bool lookAtDisk) const {
  TRestorePlan plan;
  if (RedirectRestore) {
    const std::string shortPath = RelativeStoredPath(r.path);
    const std::string_view name =
        std::string_view(shortPath).substr(shortPath.rfind('/') + 1);  // npos + 1 == 0
    plan.target.reserve(RestoreTo.size() + 1 + shortPath.size());
    plan.target = RestoreTo;
    if (!plan.target.empty() && plan.target.back() != '/') plan.target += '/';
    plan.target += FlatRestore ? name : std::string_view(shortPath);
    plan.refusal = PathRefusal(shortPath);
    if (plan.refusal.empty() && name.empty()) plan.refusal = engine_txt::kNoFileName;
  } else if ((plan.target = r.path).empty() || plan.target[0] != '/') {
    plan.refusal = plan.target.find('\0') != std::string::npos ? engine_txt::kBadComponent
                                                               : engine_txt::kNotAbsolute;
  } else {
    plan.refusal = PathRefusal(plan.target.substr(1));
  }
  plan.restore = plan.refusal.empty();
  if (!plan.restore || !lookAtDisk) {
    if (RestoreMode == RM_All || !plan.restore) return plan;
  } else if (!RedirectRestore && FolderWayRefused(ExtractFilePath(plan.target))) {
    // What the run will refuse when it opens the folders (a look of the
    // dry run's: the run itself finds it as it goes).
    plan.refusal = engine_txt::kForeignLink;
    plan.restore = false;
    return plan;
  }
  plan.exists = PathEntryExists(plan.target);
  if (RestoreMode == RM_All) return plan;
  if (!plan.exists) {
    plan.restore = RestoreMode == RM_NewerAndNew;
  } else {
    // An existing target whose time cannot be read is restored: nothing
    // shows that it is newer, and a write that fails is logged.
    const std::uint32_t dos = GetFileDate(plan.target);
    plan.restore = dos == 0 || DosToDateTime(dos) < r.time;
  }
  return plan;
}

}  // namespace vx
