#pragma once
// The engine tests' fixture: an engine aimed at a private folder with a
// private archive-bit store.  Header only: it needs the engine, which the
// lower layers' test programs do not link.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/archive_writer.h"
#include "common/files.h"
#include "common/temp_folder.h"
#include "engine/vaultrex.h"

namespace vx::test {

// An engine whose set is "set.arc" in a fresh folder `dir`; `src` is a
// second fresh folder for the files a backup takes.
class TEngineTest : public ::testing::Test {
 protected:
  TEngineTest() { AimAt(dir.path()); }

  // The set "set.arc" in folder.
  void AimAt(const std::string& folder) {
    engine.BackupDestination = folder;
    engine.ArchiveBaseName = "set.arc";
  }
  // A fresh log at path for every run.
  void UseLog(const std::string& path) {
    engine.LogFileMode = LFM_CreateNew;
    engine.LogFileName = path;
  }
  // Every stored file restored below dir/out.
  void RestoreEverythingTo(const std::string& rel = "out") {
    engine.RedirectRestore = true;
    engine.RestoreTo = dir / rel;
    engine.IncludeNames = {"*"};
  }

  std::string Archive() const { return engine.BackupDestination + "/set.arc"; }
  std::string Src(const std::string& rel) const { return src / rel; }
  std::vector<std::string> Log() const { return ReadLines(engine.LogFileName); }
  bool LogHas(const std::string& line) const { return FileHasLine(engine.LogFileName, line); }

  TStateScope state;
  TTempFolder dir{"engine"};
  TTempFolder src{"src"};
  TVaultrex engine;
};

}  // namespace vx::test
