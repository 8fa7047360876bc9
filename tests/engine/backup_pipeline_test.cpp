// The pipelined backup against the one-thread path: for every setting the
// same archive bytes, and for every way a run can end the same result code,
// log lines and events in the same order.  Restore and verify of those sets
// with decoding workers against the one-thread path: the same restored
// bytes, result codes, log lines and events, intact and damaged.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/ftp_server.h"
#include "common/temp_folder.h"
#include "common/tgt_target.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::NoiseBytes;
using test::ReadFile;
using test::ReadLines;
using test::WriteFile;

constexpr int kPipelineThreads = 3;  // more packers than this machine's cores

// Runs of tiny files (many more than the pipeline has jobs, so that they
// are handed to the workers in runs) with a multi-block file now and then.
void MakeTinyRun(const std::string& folder, const std::string& text) {
  for (int i = 0; i < 240; ++i) {
    const std::string name = folder + "/t" + std::to_string(1000 + i);
    if (i % 60 == 30) {
      WriteFile(name, NoiseBytes(70000 + static_cast<std::size_t>(i), 20 + i));
    } else {
      WriteFile(name, text.substr(static_cast<std::size_t>(i) * 7, 2500 + i % 3));
    }
  }
}

// Empty, tiny, exactly one block, several blocks, incompressible and
// compressible files.
void MakeCorpus(const std::string& src) {
  WriteFile(src + "/empty", "");
  WriteFile(src + "/tiny.txt", "malý");
  WriteFile(src + "/exact.bin", NoiseBytes(32768, 1));
  WriteFile(src + "/multi.bin", NoiseBytes(100001, 2));
  WriteFile(src + "/noise.bin", NoiseBytes(40000, 3));
  std::string text;
  while (text.size() < 250000) text += "riadok textu " + std::to_string(text.size()) + "\n";
  WriteFile(src + "/text.txt", text);
  WriteFile(src + "/sub/more.txt", text.substr(0, 70000));
  // More blocks in one file, and more files, than the pipeline has jobs
  // under way: the reader waits for free jobs, and a file's end takes one
  // of its own.
  std::string big;
  while (big.size() < 2300000) big += text;
  WriteFile(src + "/big.txt", big.substr(0, 2300000));
  for (int i = 0; i < 150; ++i) {
    WriteFile(src + "/many/f" + std::to_string(i), text.substr(static_cast<std::size_t>(i), 90));
  }
  MakeTinyRun(src + "/mixed", text);
  // The rest of a file one byte short of a block, and of two blocks.
  WriteFile(src + "/short1.bin", NoiseBytes(32767, 4));
  WriteFile(src + "/short2.bin", NoiseBytes(65535, 5));
}

// What a caller sees of a run besides the archive: the events in order and
// the log lines that do not carry a time.
struct TSeen {
  int code = -1;
  int errors = 0;
  std::vector<std::string> events;
  std::vector<std::string> log;
};

void Watch(TVaultrex& v, TSeen& seen) {
  v.UseExtStatistic = true;
  v.OnExtStatistic = [&seen](const TExtBackupStatistic& s, bool&) {
    seen.events.push_back("stat " + s.CurrentFile + " " + std::to_string(s.FilesDone) + " " +
                          std::to_string(s.BytesRead) + " " + std::to_string(s.BytesWritten) + " " +
                          std::to_string(s.BytesVerified) + " " + std::to_string(s.PercentDone));
  };
  v.OnNextBlock = [&seen](const std::string& name, std::int64_t done, std::int64_t total) {
    seen.events.push_back("block " + name + " " + std::to_string(done) + "/" +
                          std::to_string(total));
  };
  v.OnNextDisk = [&seen](int disk, TReaction& r) {
    seen.events.push_back("disk " + std::to_string(disk));
    r = AW_IGNORE;  // the next volume is there
  };
}

std::vector<std::string> UntimedLines(const std::string& log) {
  std::vector<std::string> kept;
  if (!fs::exists(log)) return kept;
  for (const std::string& line : ReadLines(log)) {
    if (line.rfind("Start", 0) == 0 || line.rfind("Zálohovanie ukončené", 0) == 0 ||
        line.rfind("Backed up at", 0) == 0 || line.rfind("Štart ", 0) == 0 ||
        line.rfind("Ukončené  ", 0) == 0 || line.rfind("Kontrola ukončená ", 0) == 0) {
      continue;
    }
    kept.push_back(line);
  }
  return kept;
}

// ---- The same bytes for every setting ----

enum class TWhere { Disk, Volumes, Tape, Ftp };

struct TSetting {
  const char* name;
  TCompressData level;
  const char* key;  // "" no encryption
  TWhere where;
  bool verify;
};

class PipelineIdentity : public ::testing::TestWithParam<TSetting> {
 protected:
  void SetUp() override {
    // Progress reports then come every so many blocks, never by the clock:
    // the events of one and of many threads compare whatever the load.
    SetTickSourceForTests([] { return std::uint64_t{0}; });
    MakeCorpus(src.path());
    if (GetParam().where == TWhere::Tape) {
      tgt.emplace(16);
      ASSERT_TRUE(tgt->Ready()) << tgt->Error();
      if (const char* old = ::getenv("VAULTIX_TAPE")) oldTape = old;
      ::setenv("VAULTIX_TAPE", tgt->Url().c_str(), 1);
    }
    if (GetParam().where == TWhere::Ftp) {
      ASSERT_TRUE(ftp.StartPlain()) << "pyftpdlib did not start";
      fs::create_directory(ftp.root() + "/sets");
    }
  }
  void TearDown() override {
    SetTickSourceForTests(nullptr);
    if (!tgt) return;
    if (oldTape) {
      ::setenv("VAULTIX_TAPE", oldTape->c_str(), 1);
    } else {
      ::unsetenv("VAULTIX_TAPE");
    }
  }

  // Backs the corpus up with `threads` packing threads; returns the set's
  // bytes as the medium holds them (volumes one after the other).
  std::string Run(int threads, TSeen& seen) {
    const TSetting& p = GetParam();
    TVaultrex v;
    v.BackupThreads = threads;
    v.IncludeNames = {src.path() + "/*"};
    v.RecurseSubDir = true;
    v.KeepArchiveFlags = true;  // both runs see the same attributes
    v.CompressData = p.level;
    v.EncryptData = *p.key != '\0';
    v.EncryptKey = p.key;
    v.VerifyDuringBackup = p.verify;
    v.Comment = "záloha";
    v.LogFileMode = LFM_CreateNew;
    v.LogFileName = logs / ("run" + std::to_string(threads) + ".log");
    Place(v);
    Watch(v, seen);
    seen.code = v.Backup();
    seen.errors = v.ErrorCount();
    seen.log = UntimedLines(v.LogFileName);
    switch (p.where) {
      case TWhere::Disk:
        return ReadFile(dst / "set");
      case TWhere::Volumes: {
        std::string all;
        // Without each volume's trailer: it carries the run's random identity.
        for (int n = 1; fs::exists(dst / ("set.00" + std::to_string(n))); ++n) {
          const std::string volume = ReadFile(dst / ("set.00" + std::to_string(n)));
          all += volume.substr(0, volume.size() - volume.size() % 32768);
        }
        return all;
      }
      case TWhere::Tape:
        return ReadFile(tgt->Folder() + "/tape.img");
      case TWhere::Ftp:
        return ReadFile(ftp.root() + "/sets/set");
    }
    return {};
  }

  // Where the set goes and is read from.
  void Place(TVaultrex& v) {
    const TSetting& p = GetParam();
    v.BackupDestination = dst.path();
    v.ArchiveBaseName = "set";
    if (p.where == TWhere::Volumes) {
      v.SpanDisks = true;
      v.MaxSplitSize = 3 * 32768;
    }
    if (p.where == TWhere::Tape) v.BackupToTape = true;
    if (p.where == TWhere::Ftp) {
      v.BackupToFTP = true;
      v.FTPConnection = {"127.0.0.1", ftp.port(), test::kFtpUser, test::kFtpPassword};
      v.BackupDestination = "/sets";
    }
  }

  // Restores the set into a fresh folder (verify: compares it with the
  // corpus) with `threads` decoding threads; returns every restored file's
  // path and bytes.
  std::string Read(int threads, bool verify, TSeen& seen) {
    const TSetting& p = GetParam();
    const std::string name = (verify ? "verify" : "restore") + std::to_string(threads);
    TVaultrex v;
    v.BackupThreads = threads;
    v.EncryptData = *p.key != '\0';
    v.EncryptKey = p.key;
    v.IncludeNames = {"*"};
    v.LogFileMode = LFM_CreateNew;
    v.LogFileName = logs / (name + ".log");
    Place(v);
    Watch(v, seen);
    const fs::path out = restored / "tree";
    fs::remove_all(out);
    if (verify) {
      seen.code = v.Verify();
    } else {
      v.RedirectRestore = true;
      v.RestoreTo = out;
      seen.code = v.Restore();
    }
    seen.errors = v.ErrorCount();
    seen.log = UntimedLines(v.LogFileName);
    std::string tree;
    if (!fs::exists(out)) return tree;
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(out))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) tree += f + "\n" + ReadFile(f) + "\n";
    return tree;
  }

  test::TStateScope state;
  test::TTempFolder src;
  test::TTempFolder dst;
  test::TTempFolder logs;
  test::TTempFolder restored;
  std::optional<test::TTgtTarget> tgt;
  std::optional<std::string> oldTape;
  test::TFtpServer ftp;
};

TEST_P(PipelineIdentity, SameBytesEventsAndLogAsOneThread) {
  TSeen one;
  TSeen many;
  const std::string single = Run(1, one);
  const std::string piped = Run(kPipelineThreads, many);
  ASSERT_EQ(one.code, 0);
  ASSERT_GT(single.size(), 0u);
  EXPECT_TRUE(single == piped) << "the archive bytes differ";
  EXPECT_EQ(many.code, one.code);
  EXPECT_EQ(many.events, one.events);
  EXPECT_EQ(many.log, one.log);
}

TEST_P(PipelineIdentity, RestoreAndVerifyTheSameWithDecodingWorkers) {
  TSeen backup;
  Run(1, backup);
  ASSERT_EQ(backup.code, 0);
  // On disk also with two blocks damaged: one inside the big file, one
  // near the set's end.
  std::vector<bool> damages = {false};
  if (GetParam().where == TWhere::Disk) damages.push_back(true);
  for (const bool damaged : damages) {
    if (damaged) {
      std::string set = ReadFile(dst / "set");
      set[set.size() / 2] = static_cast<char>(set[set.size() / 2] ^ 0x55);
      set[set.size() - 200] = static_cast<char>(set[set.size() - 200] ^ 0x55);
      WriteFile(dst / "set", set);
    }
    for (const bool verify : {false, true}) {
      SCOPED_TRACE(std::string(verify ? "verify" : "restore") + (damaged ? ", damaged" : ""));
      TSeen one;
      TSeen many;
      const std::string single = Read(1, verify, one);
      const std::string piped = Read(kPipelineThreads, verify, many);
      if (damaged) {
        EXPECT_NE(one.code, 0);
      } else {
        EXPECT_EQ(one.code, 0);
      }
      EXPECT_EQ(verify, single.empty());
      EXPECT_TRUE(single == piped) << "the restored files differ";
      EXPECT_EQ(many.code, one.code);
      EXPECT_EQ(many.errors, one.errors);
      EXPECT_EQ(many.events, one.events);
      EXPECT_EQ(many.log, one.log);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PipelineIdentity,
    ::testing::Values(
        TSetting{"None", CDM_NoCompression, "", TWhere::Disk, false},
        TSetting{"Quick", CDM_QuickCompression, "", TWhere::Disk, false},
        TSetting{"Max", CDM_MaxCompression, "", TWhere::Disk, false},
        TSetting{"QuickPassword", CDM_QuickCompression, "tajné heslo", TWhere::Disk, false},
        TSetting{"NonePassword", CDM_NoCompression, "tajné heslo", TWhere::Disk, false},
        TSetting{"QuickVerified", CDM_QuickCompression, "tajné heslo", TWhere::Disk, true},
        TSetting{"MaxVolumes", CDM_MaxCompression, "", TWhere::Volumes, true},
        TSetting{"QuickTape", CDM_QuickCompression, "tajné heslo", TWhere::Tape, false},
        TSetting{"MaxFtp", CDM_MaxCompression, "tajné heslo", TWhere::Ftp, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Runs that end early: the same code, log and events ----

struct TEnding {
  const char* name;
  int code;
  // Sets the failure up on the engine and its source folder.
  std::function<void(TVaultrex&, const std::string& src)> arm;
  bool smallDisk = false;
  bool tinyRun = false;  // the source folder also holds a long run of tiny files
};

class PipelineEndings : public ::testing::TestWithParam<TEnding> {
 protected:
  // Each run starts from the same fresh source folder.
  TSeen Run(int threads, const std::string& target) {
    for (const auto& entry : fs::directory_iterator(src.path())) fs::remove_all(entry.path());
    for (const auto& entry : fs::directory_iterator(target)) fs::remove_all(entry.path());
    MakeCorpus(src.path());
    for (int i = 0; i < 6; ++i)
      WriteFile(src / ("later" + std::to_string(i) + ".bin"), NoiseBytes(90000, 10 + i));
    if (GetParam().tinyRun) MakeTinyRun(src.path(), ReadFile(src / "text.txt"));
    TSeen seen;
    TVaultrex v;
    v.BackupThreads = threads;
    v.IncludeNames = {src.path() + "/*"};
    v.CompressData = CDM_QuickCompression;
    v.BackupDestination = target;
    v.ArchiveBaseName = "set.arc";
    v.LogFileMode = LFM_CreateNew;
    v.LogFileName = logs / ("run" + std::to_string(threads) + ".log");
    // The first run changes the folder (the file made unreadable becomes a
    // link to /proc/self/mem): the second run's metadata table would record
    // other times, and its set would differ in size.  The pipeline alone is
    // compared here, on sets as they were before the table.
    v.StoreMetadata = false;
    Watch(v, seen);
    GetParam().arm(v, src.path());
    seen.code = v.Backup();
    seen.errors = v.ErrorCount();
    seen.log = UntimedLines(v.LogFileName);
    return seen;
  }

  test::TStateScope state;
  test::TTempFolder src;
  test::TTempFolder logs;
};

TEST_P(PipelineEndings, SameCodeLogAndEventsAsOneThread) {
  test::TSmallTmpfs disk("256k");
  test::TTempFolder dst;
  std::string target = dst.path();
  if (GetParam().smallDisk) {
    if (!disk.ok()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    target = disk.path();
  }
  const TSeen one = Run(1, target);
  const TSeen many = Run(kPipelineThreads, target);
  EXPECT_EQ(one.code, GetParam().code);
  EXPECT_EQ(many.code, one.code);
  EXPECT_EQ(many.errors, one.errors);
  EXPECT_EQ(many.log, one.log);
  EXPECT_EQ(many.events, one.events);
  if (one.code != 0 && one.code != kPartialCode) {
    EXPECT_FALSE(fs::exists(target + "/set.arc"));
  }
}

// A file in the middle of the list, read after several multi-block files,
// becomes unreadable (EIO) between the scan and its data pass.
void UnreadableInTheMiddle(TVaultrex& v) {
  v.OnEndFileScan = [&v](const std::string&, TReaction&) {
    const std::string path = v.FileList()[v.FileList().size() / 2].path;
    fs::remove(path);
    fs::create_symlink("/proc/self/mem", path);
  };
}

INSTANTIATE_TEST_SUITE_P(
    Backup, PipelineEndings,
    ::testing::Values(TEnding{"ReadErrorIgnored", kPartialCode,
                              [](TVaultrex& v, const std::string&) {
                                UnreadableInTheMiddle(v);
                                v.HandleFileReadError = AW_IGNORE;
                              }},
                      TEnding{"ReadErrorEnds", 5,
                              [](TVaultrex& v, const std::string&) {
                                UnreadableInTheMiddle(v);
                                v.HandleFileReadError = AW_ABORT;
                              }},
                      TEnding{"OpenErrorIgnored", kPartialCode,
                              [](TVaultrex& v, const std::string&) {
                                v.HandleOpenError = AW_IGNORE;
                                v.OnEndFileScan = [&v](const std::string&, TReaction&) {
                                  fs::remove(v.FileList()[v.FileList().size() / 2].path);
                                };
                              }},
                      TEnding{"CancelFromStatistics", 12,
                              [](TVaultrex& v, const std::string&) {
                                auto seenStat = v.OnExtStatistic;
                                v.OnExtStatistic = [seenStat](const TExtBackupStatistic& s,
                                                              bool& cancel) {
                                  seenStat(s, cancel);
                                  cancel = s.FilesDone == 4;
                                };
                              }},
                      TEnding{"FullDisk", 2, [](TVaultrex&, const std::string&) {}, true},
                      // The same among a long run of tiny files, where the
                      // workers take several jobs at a time.
                      TEnding{"ReadErrorAmongTinyFiles", kPartialCode,
                              [](TVaultrex& v, const std::string&) {
                                UnreadableInTheMiddle(v);
                                v.HandleFileReadError = AW_IGNORE;
                              },
                              false, true},
                      TEnding{"OpenErrorAmongTinyFiles", kPartialCode,
                              [](TVaultrex& v, const std::string&) {
                                v.HandleOpenError = AW_IGNORE;
                                v.OnEndFileScan = [&v](const std::string&, TReaction&) {
                                  const std::size_t n = v.FileList().size();
                                  for (std::size_t i : {n / 3, n / 2, n / 2 + 1})
                                    fs::remove(v.FileList()[i].path);
                                };
                              },
                              false, true},
                      TEnding{"CancelAmongTinyFiles", 12,
                              [](TVaultrex& v, const std::string&) {
                                auto seenStat = v.OnExtStatistic;
                                v.OnExtStatistic = [seenStat](const TExtBackupStatistic& s,
                                                              bool& cancel) {
                                  seenStat(s, cancel);
                                  cancel = s.FilesDone == 150;
                                };
                              },
                              false, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vx
