// SaveSet / LoadSet: every property round trip, the escaped text form, list
// lines, the 2047-character cut, hand-edited values and refused files.
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/archive_fixture.h"
#include "engine/vaultrex.h"
#include "platform/profile.h"

namespace vx {
namespace {

using namespace vx::testing;

class SetFileTest : public ::testing::Test {
 protected:
  std::string Set() const { return dir / "job.set"; }
  std::string Raw(const std::string& key) const {
    return GetProfileString(Set(), "VAULTRex", key, "<missing>", 1 << 16);
  }
  TTempDir dir;
};

TEST_F(SetFileTest, EveryStoredPropertyComesBack) {
  TVaultrex a;
  a.LogFileMode = LFM_Append;
  a.LogFileName = "/var/log/vaultix/záloha.log";
  a.EncryptData = true;
  a.EncryptKey = "heslo's \\ \"úvodzovky\"";
  a.CompressData = CDM_MaxCompression;
  a.Comment = "Týždenná záloha: 'dokumenty' \\ C:\\Data";
  a.RunInBackground = true;
  a.Messages = {"Vložte disk %d", "druhý riadok"};
  a.IncludeNames = {"C:\\Data\\*.*", "D:\\Mail\\", "/home/eva/docs/*.* /S"};
  a.ExcludeNames = {"*.tmp", ""};
  a.RecurseSubDir = true;
  a.BackupHiddenSysFiles = true;
  a.BackupOpenFiles = true;
  a.BackupMode = BM_Special;
  ASSERT_TRUE(TryEncodeDateTime(2025, 11, 2, 7, 5, 9, a.SpecialBackupDate));
  a.VerifyDuringBackup = true;
  a.HandleOpenError = AW_IGNORE;
  a.HandleFileReadError = AW_ABORT;
  a.BackupDestination = "/mnt/backup";
  a.ArchiveBaseName = "daily";
  a.BackupToTape = true;
  a.BackupToFTP = true;
  a.FTPConnection = {"ftp.example.test", 2121, "eva", "p@ss\tword"};
  a.EraseTargetDir = true;
  a.SpanDisks = true;
  a.KeepArchiveFlags = true;
  a.AskForFirstDisk = true;
  a.TapeFileMarks = true;
  a.EjectTape = true;
  a.RedirectRestore = true;
  a.RestoreTo = "/tmp/obnova";
  a.FlatRestore = true;
  a.RestoreMode = RM_NewerAndNew;
  a.RestoreAttributes = true;
  // Not stored: these must keep their values in the loading engine.
  a.NoFileCRCs = true;
  a.MaxSplitSize = 12345;
  a.SaveSet(Set());

  TVaultrex b;
  b.MaxSplitSize = 7;
  b.LoadSet(Set());
  EXPECT_EQ(b.LogFileMode, a.LogFileMode);
  EXPECT_EQ(b.LogFileName, a.LogFileName);
  EXPECT_EQ(b.EncryptData, a.EncryptData);
  EXPECT_EQ(b.EncryptKey, a.EncryptKey);
  EXPECT_EQ(b.CompressData, a.CompressData);
  EXPECT_EQ(b.Comment, a.Comment);
  EXPECT_EQ(b.RunInBackground, a.RunInBackground);
  EXPECT_EQ(b.Messages, a.Messages);
  EXPECT_EQ(b.IncludeNames, a.IncludeNames);
  EXPECT_EQ(b.ExcludeNames, a.ExcludeNames);
  EXPECT_EQ(b.RecurseSubDir, a.RecurseSubDir);
  EXPECT_EQ(b.BackupHiddenSysFiles, a.BackupHiddenSysFiles);
  EXPECT_EQ(b.BackupOpenFiles, a.BackupOpenFiles);
  EXPECT_EQ(b.BackupMode, a.BackupMode);
  EXPECT_NEAR(b.SpecialBackupDate, a.SpecialBackupDate, 1e-6);
  EXPECT_EQ(b.VerifyDuringBackup, a.VerifyDuringBackup);
  EXPECT_EQ(b.HandleOpenError, a.HandleOpenError);
  EXPECT_EQ(b.HandleFileReadError, a.HandleFileReadError);
  EXPECT_EQ(b.BackupDestination, a.BackupDestination);
  EXPECT_EQ(b.ArchiveBaseName, a.ArchiveBaseName);
  EXPECT_EQ(b.BackupToTape, a.BackupToTape);
  EXPECT_EQ(b.BackupToFTP, a.BackupToFTP);
  EXPECT_EQ(b.FTPConnection.HostName, a.FTPConnection.HostName);
  EXPECT_EQ(b.FTPConnection.Port, a.FTPConnection.Port);
  EXPECT_EQ(b.FTPConnection.UserName, a.FTPConnection.UserName);
  EXPECT_EQ(b.FTPConnection.Password, a.FTPConnection.Password);
  EXPECT_EQ(b.EraseTargetDir, a.EraseTargetDir);
  EXPECT_EQ(b.SpanDisks, a.SpanDisks);
  EXPECT_EQ(b.KeepArchiveFlags, a.KeepArchiveFlags);
  EXPECT_EQ(b.AskForFirstDisk, a.AskForFirstDisk);
  EXPECT_EQ(b.TapeFileMarks, a.TapeFileMarks);
  EXPECT_EQ(b.EjectTape, a.EjectTape);
  EXPECT_EQ(b.RedirectRestore, a.RedirectRestore);
  EXPECT_EQ(b.RestoreTo, a.RestoreTo);
  EXPECT_EQ(b.FlatRestore, a.FlatRestore);
  EXPECT_EQ(b.RestoreMode, a.RestoreMode);
  EXPECT_EQ(b.RestoreAttributes, a.RestoreAttributes);
  EXPECT_FALSE(b.NoFileCRCs);
  EXPECT_EQ(b.MaxSplitSize, 7);
}

TEST_F(SetFileTest, TextsAndListsAreStoredEscaped) {
  TVaultrex a;
  a.BackupDestination = "C:\\Data";
  a.IncludeNames = {"a", "b"};
  a.Comment = "it's á";
  a.EncryptKey = std::string("\x7F\x80\x81", 3);
  a.SaveSet(Set());
  EXPECT_EQ(Raw("BackupDestination"), "C:\\x5CData");
  EXPECT_EQ(Raw("IncludeNames"), "a\\x09b\\x09");
  EXPECT_EQ(Raw("Comment"), "it\\x27s \\xC3\\xA1");
  EXPECT_EQ(Raw("EncryptKey"), std::string("\x7F\x80\\x81", 6));  // 127 and 128 stay as they are
  EXPECT_EQ(Raw("ExcludeNames"), "");
  EXPECT_EQ(Raw("Magicnumber"), "2059128029");
  EXPECT_EQ(Raw("RuninBackground"), "0");
  EXPECT_EQ(Raw("HandleOpenErrors"), "0");
  EXPECT_NE(Raw("Created"), "<missing>");
  EXPECT_EQ(Raw("MaxSplitSize"), "<missing>");
}

TEST_F(SetFileTest, LongListIsCutAtTheBufferLimit) {
  TVaultrex a;
  // 300 lines of "/data/file-NNN.txt": each stored as 18 + 4 characters.
  for (int i = 0; i < 300; ++i) a.IncludeNames.push_back("/data/file-" + std::to_string(100 + i) + ".txt");
  a.SaveSet(Set());
  ASSERT_GT(Raw("IncludeNames").size(), 2047u);
  TVaultrex b;
  b.LoadSet(Set());
  ASSERT_LT(b.IncludeNames.size(), a.IncludeNames.size());
  ASSERT_FALSE(b.IncludeNames.empty());
  // Whole lines up to the cut, then the piece the cut left of the next one.
  const std::size_t whole = 2047 / 22;
  for (std::size_t i = 0; i < whole; ++i) EXPECT_EQ(b.IncludeNames[i], a.IncludeNames[i]);
  EXPECT_EQ(b.IncludeNames.size(), whole + 1);
  EXPECT_EQ(b.IncludeNames.back(), a.IncludeNames[whole].substr(0, 2047 - whole * 22));
}

TEST_F(SetFileTest, HandEditedValuesFollowTheReadingRules) {
  TVaultrex a;
  a.SaveSet(Set());
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "BackupDestination", "C:\\x5cData"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "ArchiveBaseName", "ab\\x4"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "Comment", "  \"quoted\"  "));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "CompressData", "0x2"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "BackupMode", "nonsense"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "RestoreMode", "7"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "SpanDisks", "-3"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "SpecialBackupDate", "2024-02-29T13.14.15"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "Created", "garbage"));
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "Other", "kept"));
  TVaultrex b;
  b.BackupMode = BM_Incremental;
  b.LoadSet(Set());
  EXPECT_EQ(b.BackupDestination, std::string("C:") + '\x50' + "Data");  // lower-case digit reads as 0
  EXPECT_EQ(b.ArchiveBaseName, "ab");
  EXPECT_EQ(b.Comment, "quoted");
  EXPECT_EQ(b.CompressData, CDM_MaxCompression);
  EXPECT_EQ(b.BackupMode, BM_Full);  // not a number: the default
  EXPECT_EQ(static_cast<int>(b.RestoreMode), 7);
  EXPECT_TRUE(b.SpanDisks);
  double expected = 0.0;
  ASSERT_TRUE(TryEncodeDateTime(2024, 2, 29, 13, 14, 15, expected));
  EXPECT_NEAR(b.SpecialBackupDate, expected, 1e-6);
  EXPECT_EQ(GetProfileString(Set(), "VAULTRex", "Other", ""), "kept");
}

TEST_F(SetFileTest, MissingKeysTakeTheirDefaults) {
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "Magicnumber", "0x7ABBCCDD"));
  TVaultrex b;
  b.Comment = "old";
  b.IncludeNames = {"x"};
  const double before = NowDateTime();
  b.LoadSet(Set());
  EXPECT_EQ(b.Comment, "");
  EXPECT_TRUE(b.IncludeNames.empty());
  EXPECT_TRUE(b.Messages.empty());
  EXPECT_EQ(b.FTPConnection.UserName, "anonymous");
  EXPECT_EQ(b.FTPConnection.Password, "vaultix@localhost");
  EXPECT_EQ(b.FTPConnection.Port, 21);
  EXPECT_GE(b.SpecialBackupDate, before - 1e-9);
  EXPECT_EQ(b.HandleOpenError, AW_RETRY);
}

TEST_F(SetFileTest, FileWithoutTheMagicNumberChangesNothing) {
  TVaultrex b;
  b.Comment = "mine";
  b.BackupDestination = "/keep";
  const auto expectRefused = [&](const std::string& file) {
    try {
      b.LoadSet(file);
      ADD_FAILURE() << "accepted " << file;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Vadný formát súboru");
    }
    EXPECT_EQ(b.Comment, "mine");
    EXPECT_EQ(b.BackupDestination, "/keep");
  };
  expectRefused(dir / "missing.set");
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "Comment", "other"));
  expectRefused(Set());
  ASSERT_TRUE(WriteProfileString(Set(), "VAULTRex", "Magicnumber", "2059128028"));
  expectRefused(Set());
}

TEST_F(SetFileTest, UnwritableFileIsReportedByName) {
  TVaultrex a;
  const std::string target = dir / "a-folder";  // a folder cannot take the file
  fs::create_directories(target);
  try {
    a.SaveSet(target);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + target);
  }
}

}  // namespace
}  // namespace vx
