// Backup on real folders: the archive checked byte by byte, the log summary,
// per-file failures, verification, the attribute pass and cancellation.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "archive/crypto.h"
#include "archive/format.h"
#include "common/engine_fixture.h"
#include "common/files.h"
#include "common/named_case.h"
#include "common/temp_folder.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "support/utils.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::NoiseBytes;
using test::ReadFile;
using test::ReadLines;
using test::WriteFile;

// A regular file whose reading fails with an I/O error (offset 0 of the
// process's own memory is never mapped).
const char* const kUnreadable = "/proc/self/mem";

// ---- An archive taken apart with the format's decoders, zlib and the cipher ----

struct ParsedBlock {
  TBlockHeader header;
  std::size_t onMedium = 0;
  std::string raw;  // deciphered and inflated
};

struct ParsedArchive {
  TArchiveHeader header;
  std::vector<TDirRecord> records;
  std::vector<std::vector<ParsedBlock>> files;  // data blocks, end block left out
  std::size_t size = 0;                         // bytes up to the last end block
  std::size_t padding = 0;                      // the rest of the last 32,768-byte transfer block
};

ParsedArchive Parse(const std::string& bytes, const std::string& key = "") {
  ParsedArchive a;
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t pos = 0;
  auto need = [&](std::size_t n) {
    if (pos + n > bytes.size()) throw std::runtime_error("archive ends early");
  };
  need(kHeaderSize);
  if (!DecodeHeader(p, a.header)) throw std::runtime_error("bad magic");
  pos += kHeaderSize;
  need(kCountSize);
  const std::int32_t count = DecodeCount(p + pos);
  pos += kCountSize;
  for (std::int32_t i = 0; i < count; ++i) {
    need(kRecordSize);
    a.records.push_back(DecodeRecord(p + pos));
    pos += kRecordSize;
  }
  TBlowFish cipher;
  cipher.SetKey(key);
  cipher.InputType = SourceByteArray;
  cipher.CipherMode = ECBMode;
  for (std::int32_t i = 0; i < count; ++i) {
    std::vector<ParsedBlock> blocks;
    for (;;) {
      need(kBlockHeaderSize);
      ParsedBlock b;
      b.header = DecodeBlockHeader(p + pos);
      pos += kBlockHeaderSize;
      if (b.header.IsEnd()) break;
      const auto stored = static_cast<std::size_t>(b.header.storedLength);
      b.onMedium = a.header.encrypted ? (stored + 7) / 8 * 8 : stored;
      need(b.onMedium);
      std::string data(bytes, pos, b.onMedium);
      pos += b.onMedium;
      if (a.header.encrypted) {
        std::string plain(b.onMedium, '\0');
        cipher.InputArray = reinterpret_cast<const std::uint8_t*>(data.data());
        cipher.OutputArray = reinterpret_cast<std::uint8_t*>(plain.data());
        cipher.InputLength = static_cast<std::uint16_t>(b.onMedium);
        cipher.Decrypt();
        data = plain;
      }
      data.resize(stored);
      if (b.header.compressed) {
        std::string out(kBlockSize, '\0');
        uLongf outLen = kBlockSize;
        if (uncompress(reinterpret_cast<Bytef*>(out.data()), &outLen,
                       reinterpret_cast<const Bytef*>(data.data()), stored) != Z_OK) {
          throw std::runtime_error("inflate failed");
        }
        out.resize(outLen);
        data = out;
      }
      b.raw = data;
      blocks.push_back(b);
    }
    a.files.push_back(blocks);
  }
  // The disk file is written in whole transfer blocks.
  if (bytes.size() % kBlockSize != 0 || bytes.size() - pos >= kBlockSize) {
    throw std::runtime_error("archive is not padded to its transfer block");
  }
  a.size = pos;
  a.padding = bytes.size() - pos;
  return a;
}

std::string Joined(const std::vector<ParsedBlock>& blocks) {
  std::string s;
  for (const auto& b : blocks) s += b.raw;
  return s;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class EngineBackup : public test::TEngineTest {
 protected:
  void SetUp() override { UseLog(dir / "backup.log"); }
};

TEST_F(EngineBackup, PlainArchiveHasHeaderDirectoryAndBlocksOfTheFormat) {
  const std::string big = NoiseBytes(70000, 3);
  WriteFile(Src("a/big.bin"), big);
  WriteFile(Src("a/empty.txt"), "");
  WriteFile(Src("a/small.txt"), "hello");
  engine.AddToIncludes(Src("a/big.bin"));
  engine.AddToIncludes(Src("a/empty.txt"));
  engine.AddToIncludes(Src("a/small.txt"));
  engine.Comment = std::string(300, 'c');
  // The layout without the metadata table (its entry comes after these).
  engine.StoreMetadata = false;
  std::vector<std::pair<std::int32_t, std::int32_t>> progress;
  engine.OnNextBlock = [&](const std::string& name, std::int64_t done, std::int64_t total) {
    if (name == Src("a/big.bin")) progress.emplace_back(done, total);
  };
  ASSERT_EQ(engine.Backup(), 0);

  const ParsedArchive a = Parse(ReadFile(Archive()));
  EXPECT_FALSE(a.header.compressed);
  EXPECT_FALSE(a.header.encrypted);
  EXPECT_FALSE(a.header.spanned);
  EXPECT_EQ(a.header.comment, std::string(255, 'c'));
  ASSERT_EQ(a.records.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(a.records[i].path, engine.FileList()[i].path);
    EXPECT_EQ(a.records[i].size, engine.FileList()[i].size);
    EXPECT_EQ(a.records[i].crc, engine.FileList()[i].crc);
    EXPECT_EQ(a.records[i].attr, engine.FileList()[i].attr);
    EXPECT_DOUBLE_EQ(a.records[i].time, engine.FileList()[i].time);
    EXPECT_EQ(a.records[i].mark, 0);
  }
  EXPECT_EQ(a.records[0].size, 70000);

  ASSERT_EQ(a.files[0].size(), 3u);
  const std::int32_t lengths[] = {32768, 32768, 4464};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(a.files[0][i].header.rawLength, lengths[i]);
    EXPECT_EQ(a.files[0][i].header.storedLength, lengths[i]);
    EXPECT_EQ(a.files[0][i].header.compressed, 0);
    EXPECT_EQ(a.files[0][i].header.reserved, 0);
  }
  EXPECT_EQ(Joined(a.files[0]), big);
  EXPECT_TRUE(a.files[1].empty());
  EXPECT_EQ(Joined(a.files[2]), "hello");
  EXPECT_EQ(progress, (std::vector<std::pair<std::int32_t, std::int32_t>>{
                          {32768, 70000}, {65536, 70000}, {70000, 70000}}));
  EXPECT_EQ(a.size, kHeaderSize + kCountSize + 3 * kRecordSize + (3 * 10 + 70000 + 10) + 10 +
                        (10 + 5 + 10));
}

TEST_F(EngineBackup, CompressedBlocksAreKeptOnlyWhenSmaller) {
  std::string text;
  while (text.size() < 40000) text += "Zálohovanie údajov je dôležité. ";
  const std::string noise = NoiseBytes(20000, 5);
  WriteFile(Src("text.txt"), text);
  WriteFile(Src("noise.bin"), noise);
  engine.AddToIncludes(Src("text.txt"));
  engine.AddToIncludes(Src("noise.bin"));
  engine.CompressData = CDM_MaxCompression;
  ASSERT_EQ(engine.Backup(), 0);

  const ParsedArchive a = Parse(ReadFile(Archive()));
  EXPECT_TRUE(a.header.compressed);
  ASSERT_EQ(a.files[0].size(), 2u);
  for (const auto& b : a.files[0]) {
    EXPECT_EQ(b.header.compressed, 1);
    EXPECT_LT(b.header.storedLength, b.header.rawLength);
  }
  EXPECT_EQ(Joined(a.files[0]), text);
  ASSERT_EQ(a.files[1].size(), 1u);
  EXPECT_EQ(a.files[1][0].header.compressed, 0);
  EXPECT_EQ(a.files[1][0].header.storedLength, 20000);
  EXPECT_EQ(Joined(a.files[1]), noise);
}

TEST_F(EngineBackup, EncryptedBlocksAreRoundedToWholeCipherBlocks) {
  const std::string even = NoiseBytes(32768 + 4464, 8);
  const std::string odd = NoiseBytes(32768 + 4465, 9);
  WriteFile(Src("even.bin"), even);
  WriteFile(Src("odd.bin"), odd);
  engine.AddToIncludes(Src("even.bin"));
  engine.AddToIncludes(Src("odd.bin"));
  engine.EncryptData = true;
  engine.EncryptKey = "correct horse";
  ASSERT_EQ(engine.Backup(), 0);

  const std::string bytes = ReadFile(Archive());
  const ParsedArchive a = Parse(bytes, "correct horse");
  EXPECT_TRUE(a.header.encrypted);
  ASSERT_EQ(a.files[0].size(), 2u);
  EXPECT_EQ(a.files[0][1].header.storedLength, 4464);
  EXPECT_EQ(a.files[0][1].onMedium, 4464u);
  EXPECT_EQ(a.files[1][1].header.storedLength, 4465);
  EXPECT_EQ(a.files[1][1].onMedium, 4472u);
  EXPECT_EQ(Joined(a.files[0]), even);
  EXPECT_EQ(Joined(a.files[1]), odd);
  // Really enciphered: the plain data does not appear in the archive.
  EXPECT_EQ(bytes.find(even.substr(100, 64)), std::string::npos);

  // Compressed, enciphered with the longest key the cipher keys with, and
  // verified while written.
  std::string text;
  while (text.size() < 50000) text += "abcabcabd ";
  WriteFile(Src("even.bin"), text);
  engine.EncryptKey = std::string(65, 'k');
  engine.CompressData = CDM_QuickCompression;
  engine.VerifyDuringBackup = true;
  ASSERT_EQ(engine.Backup(), 0);
  const ParsedArchive b = Parse(ReadFile(Archive()), std::string(65, 'k'));
  EXPECT_TRUE(b.header.compressed && b.header.encrypted);
  EXPECT_EQ(b.files[0][0].header.compressed, 1);
  EXPECT_EQ(Joined(b.files[0]), text);
  EXPECT_TRUE(Contains(Log(), "Súbor " + Src("even.bin") + " zazálohovaný a overený OK"));
}

struct CheckCase {
  const char* name;
  void (*arm)(TVaultrex&);
  int code;
  const char* reason;  // the check's own message, after the code's text
};
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class EngineBackupChecks : public EngineBackup, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(EngineBackupChecks, RefusedBeforeAnythingIsWritten) {
  WriteFile(Src("a.txt"), "a");
  engine.AddToIncludes(Src("a.txt"));
  GetParam().arm(engine);
  EXPECT_EQ(engine.Backup(), GetParam().code);
  EXPECT_TRUE(fs::is_empty(dir.path()) ||
              (fs::exists(engine.LogFileName) &&
               std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()) == 1));
  EXPECT_EQ(Log(), std::vector<std::string>{"Prerušenie zálohovania spôsobené " +
                                            TVaultrex::ErrorText(GetParam().code) + ": " +
                                            GetParam().reason});
  EXPECT_EQ(engine.LastFailure(), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, EngineBackupChecks,
    ::testing::Values(CheckCase{"NoKey", [](TVaultrex& engine) { engine.EncryptData = true; }, 1,
                                "Chýba heslo!!!"},
                      CheckCase{"NoIncludes", [](TVaultrex& engine) { engine.ClearIncludes(); }, 1,
                                "Súbor nebol zazálohovaný"},
                      CheckCase{"DottedVolumeName",
                                [](TVaultrex& engine) {
                                  engine.SpanDisks = true;
                                  engine.ArchiveBaseName = "set.v1";
                                },
                                1, "Meno súboru zálohy musí byť uvedené bez koncovky"},
                      CheckCase{"VerifyOnTape",
                                [](TVaultrex& engine) {
                                  engine.VerifyDuringBackup = true;
                                  engine.BackupToTape = true;
                                },
                                1, "Nemožno verifikovať súbor počas zápisu na pásku"},
                      CheckCase{"ShortKey",
                                [](TVaultrex& engine) {
                                  engine.EncryptData = true;
                                  engine.EncryptKey = "abc";
                                },
                                14, "Heslo je krátke (min. 8 znakov)"},
                      CheckCase{"KeyTooLongForTheCipher",
                                [](TVaultrex& engine) {
                                  engine.EncryptData = true;
                                  engine.EncryptKey = std::string(66, 'k');
                                },
                                14, "Heslo je dlhé (max. 65 znakov)"},
                      CheckCase{"TargetHoldsSelectedFile",
                                [](TVaultrex& engine) {
                                  engine.EraseTargetDir = true;
                                  engine.BackupDestination = FolderOf(engine.IncludeNames[0]);
                                },
                                1,
                                "Cieľový adresár obsahuje zálohované súbory, nemožno ho vymazať"}),
    vx::test::TCaseName());

// ---- Volume names of a split set: the rule the reading side uses ----

struct VolumeNameCase {
  const char* name;
  const char* baseName;
  bool accepted;
};
void PrintTo(const VolumeNameCase& c, std::ostream* os) { *os << c.name; }

class SplitVolumeNames : public EngineBackup,
                         public ::testing::WithParamInterface<VolumeNameCase> {};

// Only a dot in the file-name part is an extension; a dot in a folder part
// is none.  An accepted name writes its first volume and reads back.
TEST_P(SplitVolumeNames, FollowTheExtensionRuleOfTheReader) {
  const std::string baseName = GetParam().baseName;
  fs::create_directories(fs::path(dir / baseName).parent_path());
  WriteFile(Src("a.bin"), NoiseBytes(50000, 5));
  engine.AddToIncludes(Src("a.bin"));
  engine.ArchiveBaseName = baseName;
  engine.SpanDisks = true;
  engine.MaxSplitSize = 32768;
  engine.AskForNextDisk = false;
  const int code = engine.Backup();
  const std::string firstVolume = dir / (baseName + ".001");
  if (!GetParam().accepted) {
    EXPECT_EQ(code, 1);
    EXPECT_EQ(engine.LastFailure(), "Meno súboru zálohy musí byť uvedené bez koncovky");
    EXPECT_FALSE(fs::exists(firstVolume));
    return;
  }
  ASSERT_EQ(code, 0) << engine.LastFailure();
  ASSERT_TRUE(fs::exists(firstVolume));
  EXPECT_TRUE(fs::exists(dir / (baseName + ".002")));
  TVaultrex reader;
  reader.BackupDestination = dir.path();
  reader.ArchiveBaseName = baseName;
  reader.SpanDisks = true;
  reader.AskForNextDisk = false;
  ASSERT_EQ(reader.Catalog(), 0);
  ASSERT_EQ(reader.FileList().size(), 1u);
  EXPECT_EQ(reader.FileList()[0].path, engine.FileList()[0].path);
}

INSTANTIATE_TEST_SUITE_P(Names, SplitVolumeNames,
                         ::testing::Values(VolumeNameCase{"Plain", "daily", true},
                                           VolumeNameCase{"Extension", "daily.arc", false},
                                           VolumeNameCase{"DotInFolder", "sets.old/daily", true},
                                           VolumeNameCase{"ExtensionUnderFolder", "sets/daily.x",
                                                          false}),
                         vx::test::TCaseName());

TEST_F(EngineBackup, EraseTargetNeverDeletesFilesOfThisBackup) {
  WriteFile(Src("keep/a.txt"), "a");
  WriteFile(Src("keep/b.txt"), "b");
  WriteFile(Src("other/c.txt"), "c");
  fs::create_symlink(Src("keep/b.txt"), Src("other/link-to-b"));
  fs::create_directory_symlink(Src("keep"), dir / "alias");
  engine.AddToIncludes(Src("other/*"));
  engine.EraseTargetDir = true;
  engine.FollowLinks = true;  // the link is taken as the file it leads to
  engine.LogFileName = Src("log.txt");

  // A link in the selection leads into the target folder.
  engine.BackupDestination = Src("keep");
  EXPECT_EQ(engine.Backup(), 1);
  // The target is the selected folder, reached through a link.
  engine.BackupDestination = dir / "alias";
  engine.ClearIncludes();
  engine.AddToIncludes(Src("keep/*"));
  EXPECT_EQ(engine.Backup(), 1);
  EXPECT_EQ(ReadFile(Src("keep/a.txt")), "a");
  EXPECT_EQ(ReadFile(Src("keep/b.txt")), "b");
  EXPECT_EQ(ReadFile(Src("other/c.txt")), "c");

  // A target folder of its own is emptied of older sets as asked.
  fs::create_directories(dir / "target");
  vx::test::WriteArchive(dir / "target/stale.arc", {{"/old/a.txt", "old"}});
  engine.BackupDestination = dir / "target";
  EXPECT_EQ(engine.Backup(), 0);
  EXPECT_FALSE(fs::exists(dir / "target/stale.arc"));
  EXPECT_TRUE(fs::exists(dir / "target/set.arc"));
}

// The root folder is refused too.  Tried inside a child process whose root
// is a temporary folder, so that a fault could not touch the real one.
TEST_F(EngineBackup, EraseTargetNeverEmptiesTheRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs chroot";
  WriteFile(Src("keep.txt"), "keep");
  WriteFile(Src("data/a.txt"), "a");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chroot(src.path().c_str()) != 0 || ::chdir("/") != 0) ::_exit(100);
    ::setenv("VAULTIX_STATE_DIR", "/state", 1);
    TVaultrex root;
    root.AddToIncludes("/data/*");
    root.BackupDestination = "/";
    root.ArchiveBaseName = "set.arc";
    root.EraseTargetDir = true;
    ::_exit(root.Backup());
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(ReadFile(Src("keep.txt")), "keep");
  EXPECT_FALSE(fs::exists(Src("set.arc")));
}

TEST_F(EngineBackup, SummaryLinesComeFirstAndInOrder) {
  WriteFile(Src("a.txt"), "alpha");
  WriteFile(Src("b.txt"), NoiseBytes(1000));
  engine.AddToIncludes(Src("*.txt"));
  engine.VerifyDuringBackup = true;
  ASSERT_EQ(engine.Backup(), 0);

  const auto lines = Log();
  ASSERT_EQ(lines.size(), 10u + 2u);
  const auto written = static_cast<std::int64_t>(Parse(ReadFile(Archive())).size);
  EXPECT_EQ(lines[0].rfind("Start backup to " + dir.path() + "/set.arc at ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "Plné zálohovanie ukončené");
  EXPECT_EQ(lines[2], "Overenie súboru počas zálohovania");
  EXPECT_EQ(lines[3].rfind("Zálohovanie ukončené ", 0), 0u);
  EXPECT_EQ(lines[4], "Žiadna chyba počas zálohovania");
  EXPECT_EQ(lines[5], "Zálohované 2 súbory");
  EXPECT_EQ(lines[6], FormatSize64(1005) + " prečítané");
  EXPECT_EQ(lines[7], FormatSize64(written) + " zapísané");
  EXPECT_EQ(lines[8], "Bez kompresie");
  EXPECT_EQ(lines[9].rfind("Backed up at ", 0), 0u);
  EXPECT_EQ(lines[9].substr(lines[9].size() - 11), " per Minute");
  std::vector<std::string> perFile(lines.begin() + 10, lines.end());
  std::sort(perFile.begin(), perFile.end());
  EXPECT_EQ(perFile,
            (std::vector<std::string>{"Súbor " + Src("a.txt") + " zazálohovaný a overený OK",
                                      "Súbor " + Src("b.txt") + " zazálohovaný a overený OK"}));
}

TEST_F(EngineBackup, CompressionLineTellsTheRatioOrThatNothingWasGained) {
  WriteFile(Src("t.txt"), std::string(30000, 'z'));
  engine.AddToIncludes(Src("t.txt"));
  engine.CompressData = CDM_QuickCompression;
  ASSERT_EQ(engine.Backup(), 0);
  const double ratio = 30000.0 / static_cast<double>(Parse(ReadFile(Archive())).size);
  EXPECT_TRUE(Contains(Log(), "Kompresia : 1:" + FormatFloat(4, 1, ratio)));

  WriteFile(Src("t.txt"), NoiseBytes(3000));  // the archive's overhead outweighs
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_TRUE(Contains(Log(), "Kompresia : 1:1 (bez kompresie)"));
}

TEST_F(EngineBackup, NothingFoundWritesNoArchiveButASummary) {
  engine.AddToIncludes(Src("missing/*.*"));
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_FALSE(fs::exists(Archive()));
  const auto lines = Log();
  EXPECT_TRUE(Contains(lines, "Zálohované 0 súbory"));
  EXPECT_TRUE(Contains(lines, FormatSize64(0) + " prečítané"));
  EXPECT_TRUE(Contains(lines, "Bez kompresie"));
  EXPECT_EQ(lines[0].rfind("Start backup to ", 0), 0u);
}

TEST_F(EngineBackup, AppendedRunPutsItsSummaryInFrontOfItsOwnLines) {
  WriteFile(Src("a.txt"), "a");
  engine.AddToIncludes(Src("a.txt"));
  engine.LogFileMode = LFM_Append;
  ASSERT_EQ(engine.Backup(), 0);
  const auto first = Log();
  ASSERT_EQ(first.size(), 10u);
  EXPECT_EQ(first[9], "Súbor " + Src("a.txt") + " Zazálohovaný OK");

  engine.BackupMode = BM_Differential;
  WriteFile(Src("a.txt"), "changed");
  ASSERT_EQ(engine.Backup(), 0);
  const auto both = Log();
  ASSERT_EQ(both.size(), 20u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), both.begin()));  // the older run untouched
  EXPECT_EQ(both[10].rfind("Start backup to ", 0), 0u);
  EXPECT_EQ(both[11], "Rozdielové zálohovanie ukončené");
  EXPECT_EQ(both[14], "Najdené 1 súbory pre zálohovanie 0 zostali neuložené");
  EXPECT_EQ(both[19], "Súbor " + Src("a.txt") + " Zazálohovaný OK");
}

TEST_F(EngineBackup, IncrementalAndDifferentialFollowTheStore) {
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) WriteFile(Src(n), n);
  engine.AddToIncludes(Src("*.txt"));
  ASSERT_EQ(engine.Backup(), 0);  // full: every attribute cleared
  for (const auto& r : engine.FileList()) EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(r.path));

  WriteFile(Src("b.txt"), "b, changed");
  engine.BackupMode = BM_Differential;
  for (int run = 0; run < 2; ++run) {  // differential keeps the attribute: same result twice
    ASSERT_EQ(engine.Backup(), 0);
    ASSERT_EQ(engine.FileList().size(), 1u);
    EXPECT_EQ(engine.FileList()[0].path, Src("b.txt"));
    EXPECT_EQ(engine.LeftOutCount(), 2);
    EXPECT_TRUE(Contains(Log(), "Najdené 3 súbory pre zálohovanie 2 zostali neuložené"));
  }
  engine.BackupMode = BM_Incremental;
  ASSERT_EQ(engine.Backup(), 0);
  ASSERT_EQ(engine.FileList().size(), 1u);
  EXPECT_EQ(Joined(Parse(ReadFile(Archive())).files[0]), "b, changed");
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_TRUE(engine.FileList().empty());
  EXPECT_EQ(engine.LeftOutCount(), 3);
  EXPECT_TRUE(Contains(Log(), "Najdené 3 súbory pre zálohovanie 3 zostali neuložené"));

  engine.KeepArchiveFlags = true;  // a full backup that leaves the attributes alone
  WriteFile(Src("c.txt"), "c, changed");
  engine.BackupMode = BM_Full;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(Src("c.txt")));
}

// The reset pass records each file as it was when opened for reading: one
// written after its read (here from its own statistics event) reads as set
// again, and the next incremental backup takes it alone.
TEST_F(EngineBackup, FileChangedAfterItsReadKeepsTheArchiveAttribute) {
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) WriteFile(Src(n), n);
  engine.AddToIncludes(Src("*.txt"));
  engine.UseExtStatistic = true;
  engine.OnExtStatistic = [&](const TExtBackupStatistic& s, bool&) {
    if (s.CurrentFile == Src("b.txt")) WriteFile(Src("b.txt"), "b, written after its read");
  };
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(engine.WarningCount(), 0);
  EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(Src("a.txt")));
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(Src("b.txt")));
  EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(Src("c.txt")));
  engine.OnExtStatistic = nullptr;
  engine.BackupMode = BM_Incremental;
  ASSERT_EQ(engine.Backup(), 0);
  ASSERT_EQ(engine.FileList().size(), 1u);
  EXPECT_EQ(engine.FileList()[0].path, Src("b.txt"));
}

TEST_F(EngineBackup, IgnoredOpenKeepsTheRecordAndTheArchiveAttribute) {
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) WriteFile(Src(n), n);
  engine.AddToIncludes(Src("*.txt"));
  engine.BackupMode = BM_Incremental;
  // b.txt is away while the data pass opens it, and back afterwards.
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    fs::rename(Src("b.txt"), Src("b.away"));
  };
  std::vector<TReaction> presets;
  engine.OnCantOpenFile = [&](const std::string& path, TReaction& r) {
    EXPECT_EQ(path, Src("b.txt"));
    presets.push_back(r);
    fs::rename(Src("b.away"), Src("b.txt"));
    r = AW_IGNORE;
  };
  ASSERT_EQ(engine.Backup(), kPartialCode);  // complete, without b.txt
  EXPECT_EQ(presets, std::vector<TReaction>{AW_RETRY});
  EXPECT_EQ(engine.ErrorCount(), 1);
  EXPECT_EQ(engine.NotTakenCount(), 1);
  const auto lines = Log();
  EXPECT_TRUE(Contains(lines, "CHYBA #1: Súbor " + Src("b.txt") +
                                  " nie je zazálohovaný - chyba pri otvorení súboru: No such "
                                  "file or directory"));
  EXPECT_TRUE(Contains(lines, "Nezazálohované položky: 1"));
  EXPECT_TRUE(Contains(lines, "Chyba počas zálohovania: 1"));
  EXPECT_TRUE(Contains(lines, "Najdené 2 súbory pre zálohovanie 0 zostali neuložené"));

  const ParsedArchive a = Parse(ReadFile(Archive()));
  ASSERT_EQ(a.records.size(), 4u);  // and the metadata table last
  const int b = engine.IndexOfPath(Src("b.txt"));
  ASSERT_GE(b, 0);
  EXPECT_TRUE(a.files[static_cast<std::size_t>(b)].empty());  // just the end block

  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(Src("b.txt")));
  EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(Src("a.txt")));
  engine.OnEndFileScan = nullptr;
  engine.OnCantOpenFile = nullptr;
  ASSERT_EQ(engine.Backup(), 0);  // the next incremental backup takes it
  ASSERT_EQ(engine.FileList().size(), 1u);
  EXPECT_EQ(engine.FileList()[0].path, Src("b.txt"));
}

TEST_F(EngineBackup, IgnoredReadKeepsTheDataSoFarAndTheArchiveAttribute) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(Src("b.txt"), "b");
  engine.AddToIncludes(Src("*.txt"));
  // b.txt becomes a link to a regular file whose read fails (EIO).
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    fs::rename(Src("b.txt"), Src("b.away"));
    fs::create_symlink(kUnreadable, Src("b.txt"));
  };
  engine.OnCantReadFromFile = [&](const std::string& path, TReaction& r) {
    EXPECT_EQ(path, Src("b.txt"));
    EXPECT_EQ(r, AW_RETRY);
    fs::remove(Src("b.txt"));
    fs::rename(Src("b.away"), Src("b.txt"));
    r = AW_IGNORE;
  };
  ASSERT_EQ(engine.Backup(), kPartialCode);
  EXPECT_EQ(engine.ErrorCount(), 0);  // an ignored read is not counted as an error
  EXPECT_EQ(engine.NotTakenCount(), 1);
  const auto lines = Log();
  EXPECT_TRUE(Contains(
      lines, "File " + Src("b.txt") + " not backed up due to read errors: Input/output error"));
  EXPECT_TRUE(Contains(lines, "Zálohované 1 súbory"));
  EXPECT_FALSE(Contains(lines, "Súbor " + Src("b.txt") + " Zazálohovaný OK"));
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(Src("b.txt")));
  EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(Src("a.txt")));
}

TEST_F(EngineBackup, OpenAndReadFailuresCanEndTheBackup) {
  WriteFile(Src("a.txt"), "a");
  engine.AddToIncludes(Src("a.txt"));
  engine.OnEndFileScan = [&](const std::string&, TReaction&) { fs::remove(Src("a.txt")); };

  engine.HandleOpenError = AW_ABORT;
  EXPECT_EQ(engine.Backup(), 4);
  auto lines = Log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "CHYBA #1: Zálohovanie prerušené chybou pri otvorení " + Src("a.txt") +
                          ": No such file or directory");
  EXPECT_EQ(lines[1], "Prerušenie zálohovania spôsobené Chyba - súbor má otvorený iný proces");
  EXPECT_FALSE(fs::exists(Archive()));  // the partial archive is removed

  // Retried without a handler, a file that stays away ends the run too.
  WriteFile(Src("a.txt"), "a");
  engine.HandleOpenError = AW_RETRY;
  EXPECT_EQ(engine.Backup(), 4);

  // A handler may retry until the file is back.
  WriteFile(Src("a.txt"), "a");
  int asked = 0;
  engine.OnCantOpenFile = [&](const std::string&, TReaction& r) {
    if (++asked == 3) WriteFile(Src("a.txt"), "z");
    r = AW_RETRY;
  };
  EXPECT_EQ(engine.Backup(), kPartialCode);  // stored, but not as the scan saw it
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(Joined(Parse(ReadFile(Archive())).files[0]), "z");

  // A read failure answered with retry or abort ends the run with 5.
  engine.OnCantOpenFile = nullptr;
  for (TReaction answer : {AW_RETRY, AW_ABORT}) {
    WriteFile(Src("a.txt"), "a");
    engine.OnEndFileScan = [&](const std::string&, TReaction&) {
      fs::remove(Src("a.txt"));
      fs::create_symlink(kUnreadable, Src("a.txt"));
    };
    engine.HandleFileReadError = answer;
    EXPECT_EQ(engine.Backup(), 5);
    lines = Log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "CHYBA #1: Zálohovanie prerušené - chyba pri čítaní " + Src("a.txt") +
                            ": Input/output error");
    EXPECT_EQ(lines[1], "Prerušenie zálohovania spôsobené Chyba pri čítaní súboru");
    fs::remove(Src("a.txt"));
  }
}

TEST_F(EngineBackup, VerificationCatchesAFileChangedAfterTheScan) {
  WriteFile(Src("a.txt"), "first file");
  WriteFile(Src("b.txt"), "second file");
  WriteFile(Src("c.txt"), "third file");
  engine.AddToIncludes(Src("a.txt"));
  engine.AddToIncludes(Src("b.txt"));
  engine.AddToIncludes(Src("c.txt"));
  engine.VerifyDuringBackup = true;
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    WriteFile(Src("b.txt"), "SECOND FILE");  // same size, other content
  };
  std::vector<std::pair<std::int64_t, std::int64_t>> counters;  // verified, written
  engine.UseExtStatistic = true;
  engine.OnExtStatistic = [&](const TExtBackupStatistic& s, bool&) {
    counters.emplace_back(s.BytesVerified, s.BytesWritten);
  };
  // The set is complete, but the run does not report success.
  ASSERT_EQ(engine.Backup(), 98);
  EXPECT_TRUE(Contains(Log(), "Prerušenie zálohovania spôsobené Chyba pri verifikácii súboru"));
  EXPECT_EQ(Joined(Parse(ReadFile(Archive())).files[1]), "SECOND FILE");
  EXPECT_EQ(engine.ErrorCount(), 1);
  const auto lines = Log();
  EXPECT_TRUE(Contains(lines, "Súbor " + Src("a.txt") + " zazálohovaný a overený OK"));
  EXPECT_TRUE(
      Contains(lines, "CHYBA #1: Súbor " + Src("b.txt") +
                          " nie je overený - obsah sa zmenil od načítania zoznamu súborov"));
  EXPECT_FALSE(Contains(lines, "Súbor " + Src("b.txt") + " zazálohovaný a overený OK"));
  EXPECT_TRUE(Contains(lines, "Súbor " + Src("c.txt") + " zazálohovaný a overený OK"));
  EXPECT_TRUE(Contains(lines, "Chyba počas zálohovania: 1"));
  EXPECT_TRUE(Contains(lines, "Zálohované 2 súbory"));
  ASSERT_EQ(counters.size(), 3u);
  EXPECT_EQ(counters[0].first, counters[0].second);
  EXPECT_EQ(counters[1].first, counters[0].first);  // stops following after the failure
  EXPECT_EQ(counters[2].first, counters[0].first);
  EXPECT_LT(counters[2].first, counters[2].second);
  // The changed file is backed up again next time.
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(Src("b.txt")));
  EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(Src("a.txt")));

  // Without checksums only the stored blocks are compared, and they match.
  engine.NoFileCRCs = true;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(engine.ErrorCount(), 0);
  ASSERT_FALSE(counters.empty());
  EXPECT_EQ(counters.back().first, counters.back().second);
}

TEST_F(EngineBackup, PercentageFollowsBytesOrFilesWhenThereAreNoBytes) {
  WriteFile(Src("a/1.txt"), std::string(100, 'x'));
  WriteFile(Src("a/2.txt"), std::string(300, 'x'));
  WriteFile(Src("b/1.txt"), "");
  WriteFile(Src("b/2.txt"), "");
  WriteFile(Src("b/3.txt"), "");
  std::vector<std::int32_t> percents;
  engine.UseExtStatistic = true;
  engine.OnExtStatistic = [&](const TExtBackupStatistic& s, bool&) {
    percents.push_back(s.PercentDone);
    EXPECT_EQ(s.BytesVerified, 0);  // nothing is verified without VerifyDuringBackup
    EXPECT_EQ(s.CurrentFileSize, static_cast<std::int64_t>(fs::file_size(s.CurrentFile)));
  };
  engine.AddToIncludes(Src("a/1.txt"));
  engine.AddToIncludes(Src("a/2.txt"));
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(percents, (std::vector<std::int32_t>{25, 100}));

  percents.clear();
  engine.ClearIncludes();
  engine.AddToIncludes(Src("b/*.txt"));
  ASSERT_EQ(engine.Backup(), 0);
  // Files finished before each one, of three: 0, 1/3 and 2/3.
  EXPECT_EQ(percents, (std::vector<std::int32_t>{0, 33, 67}));
}

TEST_F(EngineBackup, CancelInTheStatisticsEndsWithTwelveAndKeepsTheOlderSet) {
  for (int i = 0; i < 5; ++i)
    WriteFile(Src("f" + std::to_string(i) + ".txt"), "data " + std::to_string(i));
  engine.AddToIncludes(Src("*.txt"));
  ASSERT_EQ(engine.Backup(), 0);
  const std::string older = ReadFile(Archive());
  WriteFile(Src("f0.txt"), "changed");
  int reports = 0;
  engine.OnStatistic = [&](const TBackupStatistic&, bool& cancel) { cancel = ++reports == 3; };
  EXPECT_EQ(engine.Backup(), 12);
  EXPECT_EQ(reports, 3);
  EXPECT_EQ(Log().back(),
            "Prerušenie zálohovania spôsobené Prerušené volajúcou aplikáciou / užívateľom");
  // The older set is untouched and nothing of the cancelled one is left.
  EXPECT_EQ(ReadFile(Archive()), older);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
  // No attribute was reset.
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(Src("f0.txt")));
}

TEST_F(EngineBackup, ResetReportsEveryFiveHundredFiles) {
  for (int i = 0; i < 1200; ++i) WriteFile(Src("many/" + std::to_string(i)), "");
  engine.AddToIncludes(Src("many/*"));
  engine.NoFileCRCs = true;
  engine.LogFileMode = LFM_NoLog;
  struct Report {
    std::int32_t percent, done;
    std::string file;
  };
  std::vector<Report> reports;
  engine.OnResetAttributes = [&](const TExtBackupStatistic& s, bool& cancel) {
    EXPECT_FALSE(cancel);
    reports.push_back({s.PercentDone, s.FilesDone, s.CurrentFile});
  };
  ASSERT_EQ(engine.Backup(), 0);
  ASSERT_EQ(reports.size(), 3u);
  const std::int32_t percents[] = {0, 42, 83};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(reports[i].percent, percents[i]);
    EXPECT_EQ(reports[i].done, static_cast<std::int32_t>(i * 500));
    EXPECT_EQ(reports[i].file, engine.FileList()[i * 500].path);
  }
  for (const auto& r : engine.FileList()) ASSERT_FALSE(TArchiveBitStore::Instance().IsSet(r.path));

  // The set has its name when the marks are reset: a cancel asked for then
  // is not taken, the run ends as it went and every mark matches the set.
  test::TStateScope freshStore;  // every attribute set again
  engine.OnResetAttributes = [&](const TExtBackupStatistic& s, bool& cancel) {
    cancel = s.FilesDone == 500;
  };
  EXPECT_EQ(engine.Backup(), 0);
  for (const auto& r : engine.FileList()) EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(r.path));
}

TEST_F(EngineBackup, DebugListNamesEveryTreatedFile) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(Src("b.txt"), "b");
  engine.AddToIncludes(Src("*.txt"));
  engine.DebugAttrib = true;
  engine.HandleOpenError = AW_IGNORE;
  engine.OnEndFileScan = [&](const std::string&, TReaction&) { fs::remove(Src("b.txt")); };
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  const int code = engine.Backup();
  fs::current_path(before);
  ASSERT_EQ(code, kPartialCode);  // b.txt was gone
  auto listed = ReadLines(dir / "VABIT.TXT");
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{Src("a.txt"), Src("b.txt")}));
}

TEST_F(EngineBackup, AnUnusableAttributeStoreEndsTheRunAndIsPassedOn) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(dir / "not-a-folder", "x");
  engine.AddToIncludes(Src("a.txt"));
  ::setenv("VAULTIX_STATE_DIR", (dir / "not-a-folder").c_str(), 1);
  EXPECT_THROW(engine.Backup(), EArchiveStore);
  const auto lines = Log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("Chyba evidencie archívnych atribútov: ", 0), 0u);
  EXPECT_EQ(lines.back(), "Prerušenie zálohovania spôsobené Ostatné nešpecifikované chyby");
}

}  // namespace
}  // namespace vx
