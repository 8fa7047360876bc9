#pragma once
// A scratch folder with source files, a set file and a private archive-bit
// store for the tests that drive vaultix-cli.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "common/files.h"
#include "common/temp_folder.h"

namespace vxtest {

namespace fs = std::filesystem;

class CliFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "src" / "sub");
    fs::create_directories(root_ / "state");
    Write("src/a.txt", "alpha file\n");
    Write("src/sub/b.txt", std::string(70000, 'b') + "MARKER-PLAIN-TEXT");
    std::string bin;
    for (int i = 0; i < 50000; ++i) bin += static_cast<char>((i * 7919 + i / 13) & 0xFF);
    Write("src/sub/c.bin", bin);
  }
  std::string Path(const std::string& rel) const { return (root_ / rel).string(); }
  void Write(const std::string& rel, const std::string& data) const {
    vx::test::WriteFile(Path(rel), data);
  }
  std::string Read(const std::string& rel) const { return ReadAbs(Path(rel)); }
  // The file's bytes, or "" when there is none.
  static std::string ReadAbs(const std::string& path) {
    return fs::exists(path) ? vx::test::ReadFile(path) : std::string();
  }

  // A set file backing up src/ (recursively) into arc/<name>; extra keys
  // are added or replace the defaults.  Values are written as they are.
  std::string MakeSet(const std::map<std::string, std::string>& extra = {},
                      const std::string& file = "job.set") const {
    std::map<std::string, std::string> keys = {
        {"Magicnumber", "2059128029"},
        {"IncludeNames", Path("src") + "/*.* /S\\x09"},
        {"BackupDestination", Path("arc") + "/"},
        {"ArchiveBaseName", "job.arc"},
        {"CompressData", "1"},
    };
    for (const auto& [k, v] : extra) keys[k] = v;
    std::ofstream out(Path(file));
    out << "[VAULTRex]\n";
    for (const auto& [k, v] : keys) out << k << "=" << v << "\n";
    return Path(file);
  }

  TCliRun Run(std::vector<std::string> args, TCliCall call = {}) const {
    call.args = std::move(args);
    call.env.emplace_back("VAULTIX_STATE_DIR", Path("state"));
    call.env.emplace_back("LC_ALL", "C");
    return RunCli(call);
  }

  vx::test::TTempFolder dir_{"cli"};
  fs::path root_ = dir_.path();
};

// A command line and what the parser makes of it: accepted when error is
// "", else refused with error as part of its message.  One suite, each test
// file instantiating it with its own lines.
struct TParseCase {
  const char* name;
  std::vector<std::string> args;
  std::string error;
};
inline void PrintTo(const TParseCase& c, std::ostream* os) { *os << c.name; }
class CliParse : public ::testing::TestWithParam<TParseCase> {};

// The output of a run, for failure messages.
inline std::string Show(const TCliRun& r) {
  return "exit " + std::to_string(r.exitCode) + " signal " + std::to_string(r.signal) +
         (r.killedByGuard ? " (killed: still running)" : "") + "\n--- stdout\n" + r.out +
         "--- stderr\n" + r.err;
}

}  // namespace vxtest
