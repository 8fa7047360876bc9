// The wizard's pages mapped onto an engine, the run log names and job files.
#include "engine/wizard_job.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <stdexcept>
#include <tuple>

#include "common/error_of.h"
#include "common/files.h"
#include "common/temp_folder.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"

namespace vx {
namespace {

using test::ReadFile;
using test::ReadLines;
using test::TScopedEnv;
using test::TTempFolder;
using test::WriteFile;

double Date(int y, int m, int d) {
  double dt = 0;
  EXPECT_TRUE(TryEncodeDateTime(y, m, d, 0, 0, 0, dt));
  return dt;
}

struct TSplitCase {
  const char* text;
  std::int64_t bytes;
};
void PrintTo(const TSplitCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
class SegmentSize : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SegmentSize, KilobytesBecomeBytesWithoutWrapping) {
  TVaultrex e;
  TBackupPage page;
  page.SegmentSizeKB = GetParam().text;
  ApplyBackupPage(e, page, "");
  EXPECT_EQ(e.MaxSplitSize, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SegmentSize,
    ::testing::Values(TSplitCase{"0", 0}, TSplitCase{"1440", 1474560}, TSplitCase{" 7 ", 7168},
                      TSplitCase{"abc", 0}, TSplitCase{"12k", 0}, TSplitCase{"", 0},
                      TSplitCase{"-5", 0},
                      // 2097152 KB and more: the 32-bit product would wrap.
                      TSplitCase{"2097152", 2147483648LL}, TSplitCase{"4194304", 4294967296LL},
                      TSplitCase{"9007199254740992", 0}, TSplitCase{"99999999999999999999", 0}));

struct TPortCase {
  const char* text;
  std::int32_t port;
};
void PrintTo(const TPortCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
class FtpPort : public ::testing::TestWithParam<TPortCase> {};

TEST_P(FtpPort, TextThatIsNoNumberGives21OnEveryPage) {
  TFtpFields ftp;
  ftp.Port = GetParam().text;
  TVaultrex b, r, v;
  TBackupPage bp;
  bp.Ftp = ftp;
  ApplyBackupPage(b, bp, "");
  TRestorePage rp;
  rp.Ftp = ftp;
  ApplyRestorePage(r, rp, "");
  TVerifyPage vp;
  vp.Ftp = ftp;
  ApplyVerifyPage(v, vp, "");
  for (TVaultrex* e : {&b, &r, &v}) EXPECT_EQ(e->FTPConnection.Port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Texts, FtpPort,
                         ::testing::Values(TPortCase{"21", 21}, TPortCase{"2121", 2121},
                                           TPortCase{"ftp", 21}, TPortCase{"", 21},
                                           TPortCase{"21x", 21}, TPortCase{"99999999999", 21}));

TEST(BackupPage, EveryFieldReachesItsProperty) {
  TVaultrex e;
  ApplyStatusWindowDefaults(e);
  e.IncludeNames = {"/old"};
  e.ExcludeNames = {"/old-x"};
  TBackupPage p;
  p.Include = {"/home/eva/docs /S", "/etc/hosts"};
  p.Exclude = {"*.tmp"};
  p.ToTape = true;
  p.Location = "/mnt/save/";
  p.BaseName = "DAILY";
  p.Ftp = {true, "ftp.example.org", "2121", "eva", "secret"};
  p.Mode = 2;
  p.Compression = 2;
  p.OpenFiles = false;
  p.HiddenFiles = false;
  p.EraseTarget = false;
  p.Encryption = true;
  p.Password = "password1";
  p.Verify = true;
  p.CreateLog = true;
  p.KeepArchiveFlags = true;
  p.Comment = "weekly";
  ApplyBackupPage(e, p, "/logs/Backup x.LOG");
  EXPECT_EQ(e.IncludeNames, (TStrings{"/home/eva/docs /S", "/etc/hosts"}));
  EXPECT_EQ(e.ExcludeNames, TStrings{"*.tmp"});
  EXPECT_TRUE(e.BackupToTape);
  EXPECT_EQ(e.BackupDestination, "/mnt/save/");
  EXPECT_EQ(e.ArchiveBaseName, "DAILY");
  EXPECT_TRUE(e.BackupToFTP);
  EXPECT_EQ(e.FTPConnection.HostName, "ftp.example.org");
  EXPECT_EQ(e.FTPConnection.UserName, "eva");
  EXPECT_EQ(e.FTPConnection.Password, "secret");
  EXPECT_EQ(e.BackupMode, BM_Differential);
  EXPECT_EQ(e.CompressData, CDM_MaxCompression);
  EXPECT_FALSE(e.BackupOpenFiles);
  EXPECT_FALSE(e.BackupHiddenSysFiles);
  EXPECT_FALSE(e.EraseTargetDir);
  EXPECT_TRUE(e.EncryptData);
  EXPECT_EQ(e.EncryptKey, "password1");
  EXPECT_TRUE(e.VerifyDuringBackup);
  EXPECT_EQ(e.LogFileMode, LFM_CreateNew);
  EXPECT_EQ(e.LogFileName, "/logs/Backup x.LOG");
  EXPECT_TRUE(e.KeepArchiveFlags);
  EXPECT_EQ(e.Comment, "weekly");

  p.CreateLog = false;
  ApplyBackupPage(e, p, "/logs/b.LOG");
  EXPECT_EQ(e.LogFileMode, LFM_NoLog);
  EXPECT_EQ(e.LogFileName, "/logs/b.LOG");  // named whether or not a log is kept
}

TEST(BackupPage, SpecialDateIsReadOnlyForTheDateMode) {
  TScopedEnv lc("LC_ALL", "C");  // short date format mm/dd/yy
  TVaultrex e;
  TBackupPage p;
  p.Mode = 3;
  p.SpecialDate = "03/05/26";
  ApplyBackupPage(e, p, "");
  EXPECT_EQ(e.BackupMode, BM_Special);
  EXPECT_DOUBLE_EQ(e.SpecialBackupDate, Date(2026, 3, 5));

  // Another mode ignores the date field, whatever it holds.
  TVaultrex other;
  other.SpecialBackupDate = 7.0;
  p.Mode = 1;
  p.SpecialDate = "nonsense";
  ApplyBackupPage(other, p, "");
  EXPECT_DOUBLE_EQ(other.SpecialBackupDate, 7.0);
}

TEST(BackupPage, DateThatDoesNotConvertThrowsAndChangesNothing) {
  TScopedEnv lc("LC_ALL", "C");
  for (const char* text : {"", "02/30/26", "13/01/26", "3.5.2026", "03/05", "03/05/26/1"}) {
    TVaultrex e;
    e.ArchiveBaseName = "before";
    TBackupPage p;
    p.Mode = 3;
    p.SpecialDate = text;
    EXPECT_EQ(test::ErrorOf<std::runtime_error>([&] { ApplyBackupPage(e, p, ""); }),
              "Neplatný dátum!")
        << text;
    EXPECT_EQ(e.ArchiveBaseName, "before") << text;
  }
}

struct TSetCase {
  const char* setFile;
  const char* folder;
  const char* base;
};
void PrintTo(const TSetCase& c, std::ostream* os) { *os << c.setFile; }
class SetLocation : public ::testing::TestWithParam<TSetCase> {};

TEST_P(SetLocation, RestoreAndVerifySplitTheSetFile) {
  TVaultrex r, v;
  TRestorePage rp;
  rp.SetFile = GetParam().setFile;
  ApplyRestorePage(r, rp, "");
  TVerifyPage vp;
  vp.SetFile = GetParam().setFile;
  ApplyVerifyPage(v, vp, "");
  for (TVaultrex* e : {&r, &v}) {
    EXPECT_EQ(e->BackupDestination, GetParam().folder);
    EXPECT_EQ(e->ArchiveBaseName, GetParam().base);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, SetLocation,
                         ::testing::Values(TSetCase{"/x/y/BACKUP.001", "/x/y/", "BACKUP"},
                                           TSetCase{"/save/my.set.001", "/save/", "my.set"},
                                           TSetCase{"/BACKUP.001", "/", "BACKUP"},
                                           TSetCase{"/x.d/BACKUP", "/x.d/", "BACKUP"},
                                           TSetCase{"BACKUP.001", "", "BACKUP"}));

TEST(RestorePage, EveryFieldReachesItsProperty) {
  TVaultrex e;
  ApplyStatusWindowDefaults(e);
  TRestorePage p;
  p.SetFile = "/save/B.001";
  p.Password = "password1";
  p.Selection = {"/home/a", "/home/b"};
  p.Mode = 2;
  p.ToOriginal = false;
  p.Attributes = false;
  p.CreateLog = true;
  p.Location = "/tmp/r";
  p.FromTape = true;
  ApplyRestorePage(e, p, "/l/Restore.LOG");
  EXPECT_TRUE(e.EncryptData);
  EXPECT_EQ(e.EncryptKey, "password1");
  EXPECT_EQ(e.IncludeNames, (TStrings{"/home/a", "/home/b"}));
  EXPECT_EQ(e.RestoreMode, RM_NewerAndNew);
  EXPECT_TRUE(e.RedirectRestore);
  EXPECT_FALSE(e.RestoreAttributes);
  EXPECT_EQ(e.LogFileMode, LFM_CreateNew);
  EXPECT_EQ(e.LogFileName, "/l/Restore.LOG");
  EXPECT_EQ(e.RestoreTo, "/tmp/r");
  EXPECT_TRUE(e.BackupToTape);

  p.Password.clear();
  p.ToOriginal = true;
  ApplyRestorePage(e, p, "");
  EXPECT_FALSE(e.EncryptData);  // an empty password means a set without encryption
  EXPECT_FALSE(e.RedirectRestore);
}

TEST(RunLog, NameHasTheWordAndTheLocalTime) {
  const std::regex shape(
      R"(/var/log/x/(Backup|Restore|Verify) \d\d-\d\d-\d{4} \d\d-\d\d-\d\d\.LOG)");
  const char* words[] = {"Backup ", "Restore ", "Verify "};
  for (int kind = 0; kind < 3; ++kind) {
    const std::string name = RunLogFileName("/var/log/x", kind);
    EXPECT_TRUE(std::regex_match(name, shape)) << name;
    EXPECT_EQ(name.find(words[kind]), 11u) << name;
  }
  // The date is month-day-year of now.
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  DecodeDateTime(NowDateTime(), y, mo, d, h, mi, s);
  char date[16];
  std::snprintf(date, sizeof date, "%02d-%02d-%04d", mo, d, y);
  EXPECT_NE(RunLogFileName("/l/", 0).find(date), std::string::npos);
}

TEST(RunLog, FolderFollowsTheStateDirectories) {
  {
    TScopedEnv state("VAULTIX_STATE_DIR", "/srv/state");
    TScopedEnv xdg("XDG_STATE_HOME", "/ignored");
    EXPECT_EQ(RunLogFolder(), "/srv/state/logs/");
  }
  TScopedEnv state("VAULTIX_STATE_DIR", nullptr);
  TScopedEnv home("HOME", "/home/eva");
  {
    TScopedEnv xdg("XDG_STATE_HOME", "/home/eva/st");
    EXPECT_EQ(RunLogFolder(), "/home/eva/st/vaultix/logs/");
  }
  {
    TScopedEnv xdg("XDG_STATE_HOME", "relative/st");  // not absolute: ignored
    EXPECT_EQ(RunLogFolder(), "/home/eva/.local/state/vaultix/logs/");
  }
  TScopedEnv xdg("XDG_STATE_HOME", nullptr);
  EXPECT_EQ(RunLogFolder(), "/home/eva/.local/state/vaultix/logs/");
}

// ---- Job files ----

// Every field a job file keeps.
auto JobFields(const TBackupPage& p) {
  return std::tie(p.Include, p.Exclude, p.ToTape, p.Location, p.BaseName, p.Mode, p.Compression,
                  p.OpenFiles, p.SkipLocks, p.HiddenFiles, p.EraseTarget, p.Encryption, p.Verify,
                  p.CreateLog, p.Password, p.Comment);
}

class JobFile : public ::testing::Test {
 protected:
  TTempFolder dir;
  std::string file = dir / "job.sqt";
  TScopedEnv home{"HOME", "/home/eva"};
};

TEST_F(JobFile, SavedFileHasTheSectionsAndKeysInOrder) {
  TBackupPage p;
  p.Include = {"/data/*.doc"};
  p.Location = "/mnt/d/";
  SaveJobFile(file, p);
  const std::vector<std::string> expected = {"[ID]",
                                             "Velmora=1",
                                             "[Include]",
                                             "Files0=/data/*.doc",
                                             "[Where]",
                                             "BackupToTape=0",
                                             "Location=/mnt/d/",
                                             "BaseName=Backup",
                                             "[How]",
                                             "Mode=0",
                                             "Compression=1",
                                             "BackupOpenFiles=0",
                                             "SkipLocks=0",
                                             "BackupHiddenFiles=1",
                                             "EraseTarget=0",
                                             "Encryption=0",
                                             "Verify=0",
                                             "CreateLog=1",
                                             "Password=",
                                             "Comment="};
  EXPECT_EQ(ReadLines(file), expected);
}

TEST_F(JobFile, RoundTripKeepsEveryField) {
  TBackupPage p;
  p.Include = {"/home/eva /S", "/a=b.txt", "/x/*.?"};
  p.Exclude = {"*.tmp", "/home/eva/.cache /S"};
  p.ToTape = true;
  p.Location = "/mnt/backup/";
  p.BaseName = "WEEKLY";
  p.Mode = 3;
  p.Compression = 0;
  p.OpenFiles = true;
  p.SkipLocks = true;
  p.HiddenFiles = false;
  p.EraseTarget = false;
  p.Encryption = true;
  p.Verify = true;
  p.CreateLog = false;
  p.Password = "tajneheslo";
  p.Comment = "týždenná záloha";
  SaveJobFile(file, p);

  TBackupPage q;
  q.Include.clear();
  q.SegmentSizeKB = "1440";  // not kept in job files: stays
  LoadJobFile(file, q);
  EXPECT_EQ(JobFields(q), JobFields(p));
  EXPECT_EQ(q.SegmentSizeKB, "1440");
}

TEST_F(JobFile, MissingKeysAndUnreadableValuesGiveTheDefaults) {
  WriteFile(file,
            "[ID]\nVelmora=1\n[How]\nMode=7\nCompression=quick\nBackupOpenFiles=yes\n"
            "EraseTarget=\n");
  TBackupPage p;
  p.Location = "/elsewhere/";
  p.Mode = 2;
  p.Compression = 2;
  p.OpenFiles = false;
  p.EraseTarget = false;
  p.CreateLog = true;
  p.Comment = "x";
  LoadJobFile(file, p);
  EXPECT_FALSE(p.ToTape);
  EXPECT_EQ(p.Location, "/home/eva/");  // the home folder, not a drive root
  EXPECT_EQ(p.BaseName, "Backup");
  EXPECT_EQ(p.Mode, 0);
  EXPECT_EQ(p.Compression, 1);
  EXPECT_TRUE(p.OpenFiles);
  EXPECT_FALSE(p.SkipLocks);
  EXPECT_TRUE(p.HiddenFiles);
  EXPECT_FALSE(p.EraseTarget);  // a job file that does not say so empties nothing
  EXPECT_FALSE(p.Encryption);
  EXPECT_FALSE(p.Verify);
  EXPECT_FALSE(p.CreateLog);
  EXPECT_EQ(p.Password, "");
  EXPECT_EQ(p.Comment, "Backup");
}

TEST_F(JobFile, RejectedFilesChangeNothing) {
  const std::string missing = dir / "nothing.sqt";
  struct TCase {
    const char* content;  // nullptr: no file at all
    std::string message;
  };
  const TCase cases[] = {
      {nullptr, missing + "\nSúbor nenájdený.\nNesprávna cesta k súboru"},
      {"[ID]\n[Include]\nFiles0=/a\n", file + "\nNeplatný formát záložnej sady"},
      {"[ID]\nVelmora=0\n[Include]\nFiles0=/a\n", file + "\nNeplatný formát záložnej sady"},
      {"[ID]\nOther=1\n[Include]\nFiles0=/a\n", file + "\nNeplatný formát záložnej sady"},
      {"[ID]\nVelmora=ano\n", file + "\nNeplatný formát záložnej sady"},
  };
  for (const auto& c : cases) {
    if (c.content) WriteFile(file, c.content);
    TBackupPage p;
    p.Include = {"/kept"};
    p.BaseName = "Mine";
    EXPECT_EQ(
        test::ErrorOf<std::runtime_error>([&] { LoadJobFile(c.content ? file : missing, p); }),
        c.message);
    EXPECT_EQ(p.Include, TStrings{"/kept"});
    EXPECT_EQ(p.BaseName, "Mine");
  }
}

TEST_F(JobFile, ListLinesAreTakenInFileOrderWhateverTheirKeys) {
  WriteFile(file,
            "[ID]\nvelmora=2\n[Include]\nFiles1=/b\nFiles0=/a=b.txt\nAnything=/c/*.tmp\n"
            "no equals sign\n; a comment\n[Exclude]\n");
  TBackupPage p;
  p.Include = {"/first"};
  LoadJobFile(file, p);
  EXPECT_EQ(p.Include, (TStrings{"/first", "/b", "/a=b.txt", "/c/*.tmp"}));
  EXPECT_TRUE(p.Exclude.empty());
  // Loading again without clearing lists everything twice.
  LoadJobFile(file, p);
  EXPECT_EQ(p.Include.size(), 7u);
}

TEST_F(JobFile, SavingReplacesItsSectionsAndKeepsOthers) {
  WriteFile(file, "[Mine]\nkeep=1\n[Include]\nFiles0=/a\nFiles1=/b\nFiles2=/c\n");
  TBackupPage p;
  p.Include = {"/only"};
  SaveJobFile(file, p);
  const std::string text = ReadFile(file);
  EXPECT_NE(text.find("[Mine]\nkeep=1\n"), std::string::npos);
  TBackupPage q;
  q.Include.clear();
  LoadJobFile(file, q);
  EXPECT_EQ(q.Include, TStrings{"/only"});
}

TEST_F(JobFile, AnEntryThatCannotBeWrittenIsReported) {
  TBackupPage p;
  p.Include = {"/a\nFiles9=/injected"};
  EXPECT_THROW(SaveJobFile(file, p), std::runtime_error);
  EXPECT_THROW(SaveJobFile(dir / "no/such/folder/job.sqt", TBackupPage{}), std::runtime_error);
}

}  // namespace
}  // namespace vx
