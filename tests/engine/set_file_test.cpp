// SaveSet / LoadSet: every key written and read back, the escaped text
// form, list lines, the 2047-character cut, hand-edited values and refused
// files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>

#include "archive/errors.h"
#include "common/engine_fixture.h"
#include "common/error_of.h"
#include "engine/vaultrex.h"
#include "engine/wizard_job.h"
#include "platform/profile.h"

namespace vx {
namespace {

using namespace vx::test;

const char* const kKeys[] = {"Magicnumber",       "Created",
                             "LogFileMode",       "LogFileName",
                             "EncryptData",       "EncryptKey",
                             "CompressData",      "Comment",
                             "RuninBackground",   "Messages",
                             "IncludeNames",      "ExcludeNames",
                             "RecurseSubDir",     "BackupHiddenSysFiles",
                             "BackupOpenFiles",   "BackupMode",
                             "SpecialBackupDate", "VerifyDuringBackup",
                             "HandleOpenErrors",  "HandleFileReadError",
                             "BackupDestination", "ArchiveBaseName",
                             "BackupToTape",      "BackupToFTP",
                             "FTP_Hostname",      "FTP_username",
                             "FTP_password",      "FTP_port",
                             "EraseTargetDir",    "SpanDisks",
                             "KeepArchiveFlags",  "AskForFirstDisk",
                             "TapeFileMarks",     "EjectTape",
                             "RedirectRestore",   "RestoreTo",
                             "FlatRestore",       "RestoreMode",
                             "RestoreAttributes"};

class SetFileTest : public ::testing::Test {
 protected:
  std::string Set() const { return dir / "job.set"; }
  static std::string Raw(const std::string& file, const std::string& key) {
    return GetProfileString(file, "VAULTRex", key, "<missing>", 1 << 16);
  }
  void Put(const char* key, const char* value) {
    ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", key, value));
  }
  TTempFolder dir;
};

TEST_F(SetFileTest, EveryKeyIsWrittenAndComesBackUnchanged) {
  TVaultrex a;
  a.LogFileMode = LFM_Append;
  a.LogFileName = "/var/log/záloha.log";
  a.EncryptData = true;
  a.EncryptKey = "heslo's \\ \"úvodzovky\"";
  a.CompressData = CDM_MaxCompression;
  a.Comment = "Týždenná záloha: 'dokumenty' \\ C:\\Data";
  a.RunInBackground = true;
  a.Messages = {"Vložte disk %d", "druhý riadok"};
  a.IncludeNames = {"C:\\Data\\*.*", "D:\\Mail\\", "/home/eva/docs/*.* /S"};
  a.ExcludeNames = {"*.tmp", "", "x"};
  a.RecurseSubDir = a.BackupHiddenSysFiles = a.BackupOpenFiles = a.VerifyDuringBackup = true;
  a.BackupMode = BM_Special;
  ASSERT_TRUE(TryEncodeDateTime(2025, 11, 2, 7, 5, 9, a.SpecialBackupDate));
  a.HandleOpenError = AW_IGNORE;
  a.HandleFileReadError = AW_ABORT;
  a.BackupDestination = "/mnt/backup";
  a.ArchiveBaseName = "daily";
  a.BackupToTape = a.BackupToFTP = a.EraseTargetDir = a.SpanDisks = a.KeepArchiveFlags = true;
  a.FTPConnection = {"ftp.example.test", 2121, "eva", "p@ss\tword"};
  a.AskForFirstDisk = a.TapeFileMarks = a.EjectTape = a.RedirectRestore = true;
  a.RestoreTo = "/tmp/obnova";
  a.FlatRestore = a.RestoreAttributes = true;
  a.RestoreMode = RM_NewerAndNew;
  a.NoFileCRCs = true;  // not stored
  a.SaveSet(Set());

  TVaultrex b;
  b.LoadSet(Set());
  EXPECT_EQ(b.Comment, a.Comment);
  EXPECT_EQ(b.EncryptKey, a.EncryptKey);
  EXPECT_EQ(b.IncludeNames, a.IncludeNames);
  EXPECT_EQ(b.ExcludeNames, a.ExcludeNames);
  EXPECT_EQ(b.FTPConnection.Password, a.FTPConnection.Password);
  EXPECT_EQ(b.FTPConnection.Port, 2121);
  EXPECT_EQ(b.RestoreMode, RM_NewerAndNew);
  EXPECT_NEAR(b.SpecialBackupDate, a.SpecialBackupDate, 1e-6);
  EXPECT_FALSE(b.NoFileCRCs);
  // Saved again, the second engine writes the very same values.
  const std::string again = dir / "again.set";
  b.SaveSet(again);
  for (const char* key : kKeys) {
    EXPECT_NE(Raw(Set(), key), "<missing>") << key;
    if (std::string(key) != "Created") {
      EXPECT_EQ(Raw(again, key), Raw(Set(), key)) << key;
    }
  }
}

TEST_F(SetFileTest, TextsAndListsAreStoredEscaped) {
  TVaultrex a;
  a.BackupDestination = "C:\\Data";
  a.IncludeNames = {"a", "b"};
  a.Comment = "it's á";
  a.EncryptKey = std::string("\x7F\x80\x81", 3);
  a.SaveSet(Set());
  EXPECT_EQ(Raw(Set(), "BackupDestination"), "C:\\x5CData");
  EXPECT_EQ(Raw(Set(), "IncludeNames"), "a\\x09b\\x09");
  EXPECT_EQ(Raw(Set(), "Comment"), "it\\x27s \\xC3\\xA1");
  EXPECT_EQ(Raw(Set(), "EncryptKey"), std::string("\x7F\x80\\x81", 6));  // 127 and 128 stay
  EXPECT_EQ(Raw(Set(), "Magicnumber"), "2059128029");
  EXPECT_EQ(Raw(Set(), "MaxSplitSize"), "<missing>");
}

TEST_F(SetFileTest, LongListIsCutAtTheBufferLimit) {
  TVaultrex a;
  // 300 lines of 18 characters, each stored with its escaped TAB: 22.
  for (int i = 0; i < 300; ++i)
    a.IncludeNames.push_back("/data/file-" + std::to_string(100 + i) + ".txt");
  a.SaveSet(Set());
  TVaultrex b;
  b.LoadSet(Set());
  const std::size_t whole = 2047 / 22;  // then one character of the next line
  ASSERT_EQ(b.IncludeNames.size(), whole + 1);
  for (std::size_t i = 0; i < whole; ++i) EXPECT_EQ(b.IncludeNames[i], a.IncludeNames[i]);
  EXPECT_EQ(b.IncludeNames.back(), a.IncludeNames[whole].substr(0, 2047 - whole * 22));
}

TEST_F(SetFileTest, HandEditedValuesFollowTheReadingRules) {
  TVaultrex().SaveSet(Set());
  Put("BackupDestination", "C:\\x5cData");  // lower-case digit reads as 0
  Put("ArchiveBaseName", "ab\\x4");         // cut escape ends the text
  Put("Comment", "  \"quoted\"  ");
  Put("CompressData", "0x2");
  Put("BackupMode", "nonsense");
  Put("RestoreMode", "0x2");
  Put("SpanDisks", "-3");
  Put("SpecialBackupDate", "2024-02-29T13.14.15");  // separators ignored
  Put("Other", "kept");
  TVaultrex b;
  b.BackupMode = BM_Incremental;
  b.LoadSet(Set());
  EXPECT_EQ(b.BackupDestination, std::string("C:") + '\x50' + "Data");
  EXPECT_EQ(b.ArchiveBaseName, "ab");
  EXPECT_EQ(b.Comment, "quoted");
  EXPECT_EQ(b.CompressData, CDM_MaxCompression);
  EXPECT_EQ(b.BackupMode, BM_Full);
  EXPECT_EQ(b.RestoreMode, RM_NewerAndNew);
  EXPECT_TRUE(b.SpanDisks);
  double expected = 0.0;
  ASSERT_TRUE(TryEncodeDateTime(2024, 2, 29, 13, 14, 15, expected));
  EXPECT_NEAR(b.SpecialBackupDate, expected, 1e-6);
  b.SaveSet(Set());
  EXPECT_EQ(Raw(Set(), "Other"), "kept");
}

TEST_F(SetFileTest, MissingKeysTakeDefaultsAndMissingMagicChangesNothing) {
  Put("Magicnumber", "0x7ABBCCDD");
  TVaultrex b;
  b.Comment = "old";
  b.IncludeNames = {"x"};
  const double before = NowDateTime();
  b.LoadSet(Set());
  EXPECT_EQ(b.Comment, "");
  EXPECT_TRUE(b.IncludeNames.empty());
  EXPECT_EQ(b.FTPConnection.UserName, "anonymous");
  EXPECT_EQ(b.FTPConnection.Password, "vaultix@localhost");
  EXPECT_EQ(b.FTPConnection.Port, 21);
  EXPECT_GE(b.SpecialBackupDate, before - 1e-9);

  b.Comment = "mine";
  for (const char* magic : {"", "2059128028"}) {
    Put("Magicnumber", magic);
    Put("Comment", "other");
    EXPECT_EQ(test::ErrorOf<std::runtime_error>([&] { b.LoadSet(Set()); }), "Vadný formát súboru");
    EXPECT_EQ(b.Comment, "mine");
  }
  // A file that is not there says so; one that is not a regular file (a
  // FIFO would wait for a writer for ever) is refused without being read.
  ASSERT_EQ(::mkfifo((dir / "pipe.set").c_str(), 0600), 0);
  const std::pair<std::string, std::string> refused[] = {
      {dir / "missing.set", "Súbor " + dir / "missing.set" + " neexistuje"},
      {dir / "pipe.set", "Súbor " + dir / "pipe.set" + " nie je obyčajný súbor"},
      {"/dev/zero", "Súbor /dev/zero nie je obyčajný súbor"}};
  for (const auto& [file, message] : refused) {
    EXPECT_EQ(test::ErrorOf<std::runtime_error>([&] { b.LoadSet(file); }), message);
    EXPECT_EQ(b.Comment, "mine");
  }
  const std::string folder = dir / "a-folder";  // a folder cannot take the file
  std::filesystem::create_directories(folder);
  EXPECT_EQ(test::ErrorOf<std::runtime_error>([&] { b.SaveSet(folder); }),
            "Unable to write to " + folder);
}

// Values the engine cannot use are refused with the parameter error, naming
// the key, before any property changes.
struct RefusedValue {
  const char* key;
  const char* value;
  const char* named;  // the key the message names
};
void PrintTo(const RefusedValue& c, std::ostream* os) { *os << c.key << "=" << c.value; }

class SetFileRefusals : public SetFileTest, public ::testing::WithParamInterface<RefusedValue> {};

TEST_P(SetFileRefusals, OutOfRangeValueIsRefusedWithItsKey) {
  TVaultrex a;
  a.SaveSet(Set());
  Put(GetParam().key, GetParam().value);
  TVaultrex b;
  b.Comment = "mine";
  EXPECT_THAT(test::ErrorOf<EVX_ParameterError>([&] { b.LoadSet(Set()); }),
              ::testing::HasSubstr(std::string("nastavenia ") + GetParam().named));
  EXPECT_EQ(b.Comment, "mine");
}

INSTANTIATE_TEST_SUITE_P(
    Values, SetFileRefusals,
    ::testing::Values(
        RefusedValue{"LogFileMode", "3", "LogFileMode"},
        RefusedValue{"CompressData", "3", "CompressData"},
        RefusedValue{"CompressData", "-1", "CompressData"},
        RefusedValue{"BackupMode", "4", "BackupMode"},
        RefusedValue{"HandleOpenErrors", "0x3", "HandleOpenErrors"},
        RefusedValue{"HandleFileReadError", "9", "HandleFileReadError"},
        RefusedValue{"RestoreMode", "7", "RestoreMode"},
        RefusedValue{"Comment", "ab\\x00cd", "Comment"},
        RefusedValue{"IncludeNames", "/a\\x00/b\\x09", "IncludeNames"},
        RefusedValue{"EncryptKey", "\\x00secret99", "EncryptKey"},
        // A number that does not fit is not read as the default.
        RefusedValue{"CompressData", "2147483648",
                     "CompressData=2147483648 (nie je celé číslo v rozsahu)"},
        RefusedValue{"FTP_port", "0x1FFFFFFFF", "FTP_port=0x1FFFFFFFF"},
        RefusedValue{"SpanDisks", "-99999999999999999999", "SpanDisks="},
        // A broken escape is named as such, not read as a NUL byte.
        RefusedValue{"Comment", "ab\\xZZcd", "Comment: chybná escape sekvencia \\xZZ"},
        RefusedValue{"RestoreTo", "/a\\x1G/b", "RestoreTo: chybná escape sekvencia"}));

TEST_F(SetFileTest, SpecialModeNeedsAValidDate) {
  TVaultrex a;
  a.BackupMode = BM_Special;
  a.SpecialBackupDate = 45000.5;
  a.SaveSet(Set());
  TVaultrex b;
  b.LoadSet(Set());
  EXPECT_EQ(b.BackupMode, BM_Special);
  EXPECT_NEAR(b.SpecialBackupDate, 45000.5, 1e-6);
  for (const char* bad : {"", "2024/13/45 99:99:99", "soon"}) {
    Put("SpecialBackupDate", bad);
    EXPECT_THROW(b.LoadSet(Set()), EVX_ParameterError) << bad;
  }
}

// A save loads the file once and stores it once as a whole, however many
// keys and entries it writes: one synced temporary file, one rename, one
// sync of the folder.
TEST_F(SetFileTest, ASaveStoresTheFileOnce) {
  struct TCase {
    const char* name;
    std::string file;
    std::string before;
    std::function<void(const std::string&)> save;
    std::string kept;  // a line of the old file that must stay
  };
  const TCase cases[] = {
      {"job file with 1,000 entries", dir / "big.sqt", "[Mine]\nkeep=1\n[Include]\nFiles0=/old\n",
       [](const std::string& file) {
         TBackupPage page;
         for (int i = 0; i < 1000; ++i) page.Include.push_back("/data/" + std::to_string(i));
         SaveJobFile(file, page);
       },
       "keep=1"},
      {"set file", Set(), "[VAULTRex]\nMaxSplitSize=1440\n[Other]\nx=1\n",
       [](const std::string& file) {
         TVaultrex engine;
         for (int i = 0; i < 1000; ++i) engine.IncludeNames.push_back("/data/" + std::to_string(i));
         engine.SaveSet(file);
       },
       "MaxSplitSize=1440"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.file, c.before);
    std::map<TProfileSaveStep, int> counts;
    SetProfileSaveHook([&counts](TProfileSaveStep step, const std::string&) { ++counts[step]; });
    c.save(c.file);
    SetProfileSaveHook(nullptr);
    const std::map<TProfileSaveStep, int> once = {{TProfileSaveStep::kTempWritten, 1},
                                                  {TProfileSaveStep::kTempSynced, 1},
                                                  {TProfileSaveStep::kRenamed, 1},
                                                  {TProfileSaveStep::kFolderSynced, 1}};
    EXPECT_EQ(counts, once);
    EXPECT_TRUE(FileHasLine(c.file, c.kept));
  }
  TBackupPage loaded;
  loaded.Include.clear();
  LoadJobFile(dir / "big.sqt", loaded);
  ASSERT_EQ(loaded.Include.size(), 1000u);
  EXPECT_EQ(loaded.Include.back(), "/data/999");
}

}  // namespace
}  // namespace vx
