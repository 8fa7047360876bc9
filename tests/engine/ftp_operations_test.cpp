// The engine's operations on a set that lives on an FTP server: round trips
// against the stock pyftpdlib daemon and vsftpd, and the result codes when
// the server refuses, is missing, cuts a transfer or falls silent.  Guards
// (FinishesWithin) only catch hangs; they are far above the time needed.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <tuple>

#include "common/engine_fixture.h"
#include "common/files.h"
#include "common/ftp_server.h"
#include "common/named_case.h"
#include "common/net.h"
#include "common/temp_folder.h"
#include "devices/ftp_client.h"
#include "engine/vaultrex.h"

namespace vx {
namespace {

using namespace std::chrono_literals;
using test::FinishesWithin;
using test::TFtpServer;

using test::ReadFile;
using test::WriteFile;

class FtpOperationsTest : public test::TEngineTest {
 protected:
  void SetUp() override {
    // Short waits for silent servers.
    TV_FTP::SetDefaultTimeouts(3000, 2000);
  }
  void TearDown() override {
    TV_FTP::SetDefaultTimeouts(TV_FTP::kDefaultReplyTimeoutMs, TV_FTP::kDefaultDataTimeoutMs);
  }

  // A set "sets/Backup" on the server started by the test.
  void PointAtServer(TVaultrex& engine, const std::string& user = test::kFtpUser,
                     const std::string& password = test::kFtpPassword) {
    engine.BackupToFTP = true;
    engine.FTPConnection = {"127.0.0.1", server.port(), user, password};
    engine.BackupDestination = "/sets";
    engine.ArchiveBaseName = "Backup";
    engine.SpanDisks = false;
    engine.EraseTargetDir = false;
  }
  void PrepareBackup(TVaultrex& engine) {
    engine.IncludeNames = {Src("*")};
    engine.RecurseSubDir = true;
    engine.CompressData = CDM_MaxCompression;
    engine.EncryptData = true;
    engine.EncryptKey = "tajné heslo";
    engine.Comment = "nočná záloha";
  }
  // A reader of the set on the server, restoring below dir/out.
  void PrepareRead(TVaultrex& engine, const std::string& user = test::kFtpUser,
                   const std::string& password = test::kFtpPassword) {
    PointAtServer(engine, user, password);
    engine.EncryptData = true;
    engine.EncryptKey = "tajné heslo";
    engine.RedirectRestore = true;
    engine.RestoreTo = dir / "out";
    engine.IncludeNames = {"*"};
    engine.RecurseSubDir = true;
  }
  void MakeSource(std::size_t noiseBytes = 70001) {
    for (const auto& [name, content] : Files(noiseBytes)) WriteFile(Src(name), content);
  }
  std::vector<std::pair<std::string, std::string>> Files(std::size_t noiseBytes = 70001) const {
    return {{"text.txt", std::string(100000, 'a') + "koniec"},
            {"noise.bin", test::NoiseBytes(noiseBytes, 5)},
            {"empty", ""},
            {"exact", test::NoiseBytes(32768, 6)},
            {"sub/deeper/notes.md", "poznámky"}};
  }
  // The stock daemon (plain) or the fault server, with an empty folder "sets".
  bool ServeSets(bool plain, const std::vector<std::string>& faults = {}) {
    if (!(plain ? server.StartPlain() : server.StartFaulty(faults))) return false;
    return std::filesystem::create_directory(server.root() + "/sets");
  }
  std::string ServerFile() const { return server.root() + "/sets/Backup"; }

  // Uploads the source through the fault-free path of any server.
  int BackupNow() {
    TVaultrex engine;
    PointAtServer(engine);
    PrepareBackup(engine);
    return engine.Backup();
  }

  TFtpServer server;
};

TEST_F(FtpOperationsTest, BackupCatalogVerifyRestoreRoundTrip) {
  ASSERT_TRUE(ServeSets(true)) << "pyftpdlib did not start";
  MakeSource();
  // The same set on disk first; it keeps the archive attributes, so that the
  // backup to the server sees the files just as this one did.
  TVaultrex disk;
  PrepareBackup(disk);
  disk.BackupDestination = dir / "disk";
  disk.ArchiveBaseName = "Backup";
  disk.KeepArchiveFlags = true;
  ASSERT_EQ(disk.Backup(), 0);
  ASSERT_EQ(BackupNow(), 0);

  // The file on the server, read directly from its folder: whole transfer
  // blocks, and the very bytes the disk backup wrote.
  const std::string onServer = ReadFile(ServerFile());
  ASSERT_FALSE(onServer.empty());
  EXPECT_EQ(onServer.size() % 32768, 0u);
  EXPECT_TRUE(ReadFile(dir / "disk/Backup") == onServer) << "the FTP set differs from the disk set";

  TVaultrex catalog;
  PrepareRead(catalog);
  ASSERT_EQ(catalog.Catalog(), 0);
  std::vector<std::string> listed;
  for (const auto& r : catalog.FileList()) listed.push_back(r.path);
  std::vector<std::string> expected;
  for (const auto& [name, content] : Files()) expected.push_back(Src(name));
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);

  TVaultrex comment;
  PrepareRead(comment);
  std::string text;
  ASSERT_EQ(comment.RetrieveComment(text), 0);
  EXPECT_EQ(text, "nočná záloha");

  TVaultrex verify;
  PrepareRead(verify);
  EXPECT_EQ(verify.Verify(), 0);

  TVaultrex restore;
  PrepareRead(restore);
  ASSERT_EQ(restore.Restore(), 0);
  for (const auto& [name, content] : Files())
    EXPECT_TRUE(ReadFile(dir / ("out" + Src(name))) == content) << name;

  // The set is still there, untouched by the reads.
  EXPECT_TRUE(ReadFile(ServerFile()) == onServer);
}

TEST_F(FtpOperationsTest, SpannedSetOnServerDropsTheExtension) {
  ASSERT_TRUE(ServeSets(true)) << "pyftpdlib did not start";
  MakeSource(1000);
  TVaultrex engine;
  PointAtServer(engine);
  PrepareBackup(engine);
  engine.SpanDisks = true;
  engine.ArchiveBaseName = "Backup.arc";
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_TRUE(std::filesystem::exists(ServerFile()));

  TVaultrex restore;
  PrepareRead(restore);
  restore.SpanDisks = true;  // reading takes the name without extension
  ASSERT_EQ(restore.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / ("out" + Src("sub/deeper/notes.md"))), "poznámky");
}

// Refused logins, and line breaks in a value that would carry a second
// command to the server (the set's base name is the remote path), end
// backup and restore with 15 before anything is stored.
struct TRefusedLogin {
  const char* name;
  std::string user, password, baseName;
  const char* logSays;  // the reason in the backup's log, when there is one
};
void PrintTo(const TRefusedLogin& c, std::ostream* os) { *os << c.name; }

class FtpRefusedLogin : public FtpOperationsTest,
                        public ::testing::WithParamInterface<TRefusedLogin> {};

TEST_P(FtpRefusedLogin, BackupAndRestoreGive15AndStoreNothing) {
  const TRefusedLogin& c = GetParam();
  ASSERT_TRUE(ServeSets(false));
  MakeSource(1000);
  TVaultrex engine;
  PointAtServer(engine, c.user, c.password);
  PrepareBackup(engine);
  engine.ArchiveBaseName = c.baseName;
  engine.LogFileMode = LFM_CreateNew;
  engine.LogFileName = dir / "ftp.log";
  EXPECT_EQ(engine.Backup(), 15);
  if (*c.logSays != '\0') {
    EXPECT_NE(ReadFile(dir / "ftp.log").find(c.logSays), std::string::npos)
        << ReadFile(dir / "ftp.log");
    EXPECT_EQ(server.Commands(), "");  // refused before it was sent
  }
  TVaultrex reader;
  PrepareRead(reader, c.user, c.password);
  reader.ArchiveBaseName = c.baseName;
  EXPECT_EQ(reader.Restore(), 15);
  EXPECT_FALSE(std::filesystem::exists(ServerFile()));
}

INSTANTIATE_TEST_SUITE_P(
    Values, FtpRefusedLogin,
    ::testing::Values(TRefusedLogin{"WrongPassword", test::kFtpUser, "wrong", "Backup", ""},
                      TRefusedLogin{"UnknownUser", "nobody", test::kFtpPassword, "Backup", ""},
                      TRefusedLogin{"LineBreakInUserName", std::string(test::kFtpUser) + "\nDELE x",
                                    test::kFtpPassword, "Backup",
                                    "FTP user name holds a line break"},
                      TRefusedLogin{"LineBreakInRemotePath", test::kFtpUser, test::kFtpPassword,
                                    "Backup\r\nDELE x", "FTP remote path holds a line break"}),
    vx::test::TCaseName());

// Nobody listens on the port: refused at once.
TEST_F(FtpOperationsTest, MissingServerGives15) {
  MakeSource(1000);
  TVaultrex engine;
  PointAtServer(engine);
  engine.FTPConnection.Port = test::FreeLoopbackPort();
  PrepareBackup(engine);
  int result = -1;
  ASSERT_TRUE(FinishesWithin(30s, [&] { result = engine.Backup(); }));
  EXPECT_EQ(result, 15);
}

TEST_F(FtpOperationsTest, MissingSetOrFolderOnServerGives15) {
  ASSERT_TRUE(server.StartFaulty());
  TVaultrex catalog;
  PrepareRead(catalog);
  EXPECT_EQ(catalog.Catalog(), 15);  // no folder "sets"
  std::filesystem::create_directory(server.root() + "/sets");
  TVaultrex verify;
  PrepareRead(verify);
  EXPECT_EQ(verify.Verify(), 15);  // no file "Backup"
}

TEST_F(FtpOperationsTest, SilentServerEndsWithAnErrorNotAHang) {
  ASSERT_TRUE(server.StartFaulty({"--silent", "PASS"}));
  MakeSource(1000);
  TVaultrex engine;
  PointAtServer(engine);
  PrepareBackup(engine);
  int result = -1;
  ASSERT_TRUE(FinishesWithin(60s, [&] { result = engine.Backup(); }));
  EXPECT_EQ(result, 15);
}

TEST_F(FtpOperationsTest, UnconfirmedUploadIsNotASuccess) {
  // The server takes every byte but never confirms the transfer.
  ASSERT_TRUE(ServeSets(false, {"--silent-close"}));
  MakeSource(1000);
  int result = -1;
  ASSERT_TRUE(FinishesWithin(60s, [&] { result = BackupNow(); }));
  EXPECT_EQ(result, 6);
}

TEST_F(FtpOperationsTest, UploadCutByTheServerGives2) {
  // (A server that stops reading is covered by the client's own tests.)
  ASSERT_TRUE(ServeSets(false, {"--stor-limit", "65536", "--stor-mode", "drop"}));
  // More than the socket buffers hold, so the sender meets the cut.
  WriteFile(Src("big.bin"), test::NoiseBytes(16u << 20, 9));
  TVaultrex engine;
  PointAtServer(engine);
  PrepareBackup(engine);
  engine.EncryptData = false;
  engine.CompressData = CDM_NoCompression;
  int result = -1;
  ASSERT_TRUE(FinishesWithin(120s, [&] { result = engine.Backup(); }));
  EXPECT_EQ(result, 2);
}

// The first transfer block of every download is cut (the server closes the
// data connection, or falls silent): the archive header cannot be read, and
// each reading operation ends with 9.
struct TCutRead {
  const char* name;
  const char* mode;
  int (*run)(TVaultrex&);
};
void PrintTo(const TCutRead& c, std::ostream* os) { *os << c.name; }

class FtpDownloadCut : public FtpOperationsTest, public ::testing::WithParamInterface<TCutRead> {};

TEST_P(FtpDownloadCut, IsAReadError) {
  const TCutRead& c = GetParam();
  ASSERT_TRUE(ServeSets(false, {"--retr-limit", "200", "--retr-mode", c.mode}));
  MakeSource(200000);
  ASSERT_EQ(BackupNow(), 0);  // uploads are not cut
  TVaultrex engine;
  PrepareRead(engine);
  int result = -1;
  ASSERT_TRUE(FinishesWithin(60s, [&] { result = c.run(engine); }));
  EXPECT_EQ(result, 9);
}

int RunRestore(TVaultrex& v) { return v.Restore(); }
int RunVerify(TVaultrex& v) { return v.Verify(); }
int RunCatalog(TVaultrex& v) { return v.Catalog(); }

INSTANTIATE_TEST_SUITE_P(Modes, FtpDownloadCut,
                         ::testing::Values(TCutRead{"DropRestore", "drop", RunRestore},
                                           TCutRead{"DropVerify", "drop", RunVerify},
                                           TCutRead{"DropCatalog", "drop", RunCatalog},
                                           TCutRead{"StallRestore", "stall", RunRestore},
                                           TCutRead{"StallVerify", "stall", RunVerify},
                                           TCutRead{"StallCatalog", "stall", RunCatalog}),
                         vx::test::TCaseName());

TEST_F(FtpOperationsTest, DownloadCutInsideAFileFailsThatFile) {
  // Cut after the directory, inside the data of the files: a restore logs
  // each file it could not finish as an error and goes on.
  ASSERT_TRUE(ServeSets(false, {"--retr-limit", "40000", "--retr-mode", "drop"}));
  MakeSource(200000);
  ASSERT_EQ(BackupNow(), 0);
  TVaultrex engine;
  PrepareRead(engine);
  int result = -1;
  ASSERT_TRUE(FinishesWithin(60s, [&] { result = engine.Restore(); }));
  EXPECT_EQ(result, 9);  // files not restored fail the run
  EXPECT_GT(engine.ErrorCount(), 0);
  // Data that could not be read leave nothing behind.
  EXPECT_FALSE(std::filesystem::exists(dir / ("out" + Src("noise.bin"))));
}

TEST_F(FtpOperationsTest, DeletingFromASetOnServerIsRefused) {
  ASSERT_TRUE(ServeSets(true)) << "pyftpdlib did not start";
  MakeSource(1000);
  ASSERT_EQ(BackupNow(), 0);
  const std::string before = ReadFile(ServerFile());

  TVaultrex engine;
  PrepareRead(engine);
  engine.IncludeNames = {Src("empty")};
  EXPECT_EQ(engine.DeleteFiles(), 1);
  EXPECT_TRUE(ReadFile(ServerFile()) == before);
}

// A second, independent daemon.  vsftpd needs a real system user, which only
// root can create.
TEST_F(FtpOperationsTest, RoundTripWithVsftpd) {
  if (::geteuid() != 0) GTEST_SKIP() << "vsftpd needs a system user; run as root to create one";
  if (!std::filesystem::exists("/usr/sbin/vsftpd")) GTEST_SKIP() << "vsftpd is not installed";
  const std::string user = "vxftp", password = "Vx-ftp-pw1";
  const test::TTempFolder homeFolder{"vsftpd"};
  const std::string home = homeFolder.path();
  std::filesystem::permissions(
      home, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                std::filesystem::perms::others_exec);
  const std::string root = home + "/root";
  std::filesystem::create_directories(root + "/sets");
  auto run = [](const std::string& cmd) { return std::system(cmd.c_str()); };
  if (run("id " + user + " >/dev/null 2>&1") != 0) {
    ASSERT_EQ(run("useradd -M -s /bin/bash " + user), 0);
  }
  ASSERT_EQ(
      run("usermod -d " + root + " " + user + " && echo '" + user + ":" + password +
          "' | chpasswd && chown -R " + user + " " + root + " && mkdir -p /var/run/vsftpd/empty"),
      0);
  const int port = test::FreeLoopbackPort();
  int pasv = test::FreeLoopbackPort();
  std::ofstream(home + "/vsftpd.conf")
      << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port
      << "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
      << "local_root=" << root << "\npasv_enable=YES\npasv_address=127.0.0.1\n"
      << "pasv_min_port=" << pasv << "\npasv_max_port=" << pasv + 9
      << "\nseccomp_sandbox=NO\nsecure_chroot_dir=/var/run/vsftpd/empty\n"
      << "pam_service_name=vsftpd\nxferlog_enable=NO\nchroot_local_user=NO\n";
  TFtpServer vsftpd;
  ASSERT_TRUE(vsftpd.StartCommand({"/usr/sbin/vsftpd", home + "/vsftpd.conf"}, port))
      << "vsftpd did not start";

  MakeSource();
  auto point = [&](TVaultrex& engine) {
    engine.BackupToFTP = true;
    engine.FTPConnection = {"127.0.0.1", port, user, password};
    engine.BackupDestination = root + "/sets";  // no chroot: the server's own path
    engine.ArchiveBaseName = "Backup";
  };
  TVaultrex backup;
  point(backup);
  PrepareBackup(backup);
  ASSERT_EQ(backup.Backup(), 0);
  EXPECT_EQ(ReadFile(root + "/sets/Backup").size() % 32768, 0u);

  TVaultrex restore;
  PrepareRead(restore);
  point(restore);
  ASSERT_EQ(restore.Restore(), 0);
  for (const auto& [name, content] : Files())
    EXPECT_TRUE(ReadFile(dir / ("out" + Src(name))) == content) << name;

  TVaultrex wrong;
  PrepareRead(wrong);
  point(wrong);
  wrong.FTPConnection.Password = "wrong";
  EXPECT_EQ(wrong.Verify(), 15);
}

}  // namespace
}  // namespace vx
