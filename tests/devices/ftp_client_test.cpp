// The FTP client against a real pyftpdlib server on 127.0.0.1: transfers,
// the commands it sends, login replies of every kind, and the text helpers.
#include "devices/ftp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "common/files.h"
#include "common/ftp_fixture.h"
#include "common/named_case.h"
#include "common/net.h"

namespace vx {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::FtpFailure;
using test::kFtpPassword;
using test::kFtpUser;

std::string Dotted(std::uint32_t networkOrder) {
  in_addr a{networkOrder};
  return ::inet_ntoa(a);
}

TEST(FtpTextHelpers, FindNthCountsOccurrencesFromOne) {
  EXPECT_EQ(FindNth(",", "10,0,0,7,4,1", 1), 3);
  EXPECT_EQ(FindNth(",", "10,0,0,7,4,1", 4), 9);
  EXPECT_EQ(FindNth(",", "10,0,0,7,4,1", 5), 11);
  EXPECT_EQ(FindNth("ab", "xabab", 2), 4);
  // Fewer occurrences: beyond the end; n = 0: zero.
  EXPECT_GT(FindNth(",", "1,2", 2), 3);
  EXPECT_GT(FindNth(",", "", 1), 0);
  EXPECT_EQ(FindNth(",", "1,2", 0), 0);
}

TEST(FtpTextHelpers, PassiveReplyGivesAddressAndPort) {
  std::uint32_t address = 0;
  int port = 0;
  ASSERT_TRUE(ParsePassiveReply("Entering Passive Mode (10,0,0,7,4,1).", address, port));
  EXPECT_EQ(Dotted(address), "10.0.0.7");
  EXPECT_EQ(port, 1025);
  ASSERT_TRUE(ParsePassiveReply("=(127,0,0,1,255,255)", address, port));
  EXPECT_EQ(Dotted(address), "127.0.0.1");
  EXPECT_EQ(port, 65535);

  for (const char* bad :
       {"Entering Passive Mode", "(10,0,0,7,4", "(10,0,0,7)", "(10,0,0,7,4,)", "(10,0,0,7,x,1)",
        "(10,0,0,7,256,1)", "(10,0,0,7,4,1,9)", "(a,b,c,d,4,1)", "()"}) {
    EXPECT_FALSE(ParsePassiveReply(bad, address, port)) << bad;
  }
}

TEST(FtpTextHelpers, RemotePathSplitsAtItsLastSeparator) {
  std::string folder, name;
  TV_FTP::SplitRemotePath("/backups/Backup", folder, name);
  EXPECT_EQ(folder, "/backups/");
  EXPECT_EQ(name, "Backup");
  TV_FTP::SplitRemotePath("/a/b\\c:d", folder, name);
  EXPECT_EQ(folder, "/a/b\\c:");
  EXPECT_EQ(name, "d");
  TV_FTP::SplitRemotePath("Backup", folder, name);
  EXPECT_EQ(folder, "");
  EXPECT_EQ(name, "Backup");
  TV_FTP::SplitRemotePath("/set/", folder, name);
  EXPECT_EQ(folder, "/set/");
  EXPECT_EQ(name, "");
}

TEST(FtpTextHelpers, HostResolution) {
  EXPECT_EQ(Dotted(ResolveHost("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(Dotted(ResolveHost("localhost")), "127.0.0.1");
  // No host, and the dotted form that means "none".
  EXPECT_EQ(ResolveHost(""), kNoAddress);
  EXPECT_EQ(ResolveHost("255.255.255.255"), kNoAddress);

  TV_FTP ftp;
  EXPECT_EQ(FtpFailure([&] { ftp.Connect("255.255.255.255", kFtpUser, 21, kFtpPassword); }),
            "Couldn't resolve hostname 255.255.255.255");
  EXPECT_EQ(FtpFailure([&] { ftp.Connect("", kFtpUser, 21, kFtpPassword); }),
            "Couldn't resolve hostname ");
}

class FtpClientTest : public test::TFtpClientTest {
 protected:
  // Uploads bytes in pieces of `piece` bytes to remotePath.
  void Upload(const std::string& remotePath, const std::string& bytes, std::size_t piece) {
    TV_FTP ftp;
    Login(ftp);
    ftp.OpenWrite(remotePath);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      int len = static_cast<int>(std::min(piece, bytes.size() - at));
      int sent = 0;
      ftp.WriteData(bytes.data() + at, len, sent);
      ASSERT_EQ(sent, len);
    }
    ftp.CloseFile();
  }
};

TEST_F(FtpClientTest, UploadThenDownloadKeepsEveryByte) {
  StartServer();
  std::filesystem::create_directory(server_.root() + "/backups");
  const std::string data = test::NoiseBytes(5 * 32768 + 1234, 7);
  Upload("/backups/Backup", data, 32768);
  EXPECT_EQ(test::ReadFile(server_.root() + "/backups/Backup"), data);

  // The folder goes with CWD, the name with STOR, in binary type.
  std::string commands = server_.Commands();
  EXPECT_NE(commands.find("CWD /backups/\n"), std::string::npos) << commands;
  EXPECT_NE(commands.find("STOR Backup\n"), std::string::npos) << commands;
  EXPECT_NE(commands.find("TYPE I\n"), std::string::npos) << commands;
  EXPECT_NE(commands.find("PASV\n"), std::string::npos) << commands;

  TV_FTP ftp;
  Login(ftp);
  ftp.OpenRead("/backups/Backup");
  std::string back;
  std::vector<char> block(32768);
  int received = 0;
  // Whole blocks fill the caller's buffer; the end of the file gives the
  // short rest, and then nothing.
  for (int i = 0; i < 5; ++i) {
    ftp.ReadData(block.data(), static_cast<int>(block.size()), received);
    ASSERT_EQ(received, 32768) << "block " << i;
    back.append(block.data(), static_cast<std::size_t>(received));
  }
  ftp.ReadData(block.data(), static_cast<int>(block.size()), received);
  EXPECT_EQ(received, 1234);
  back.append(block.data(), static_cast<std::size_t>(received));
  ftp.ReadData(block.data(), static_cast<int>(block.size()), received);
  EXPECT_EQ(received, 0);
  ftp.CloseFile();
  EXPECT_EQ(back, data);
}

TEST_F(FtpClientTest, PathWithoutFolderSendsEmptyCwd) {
  StartServer();
  Upload("plain.bin", "abc", 3);
  EXPECT_EQ(test::ReadFile(server_.root() + "/plain.bin"), "abc");
  std::string commands = server_.Commands();
  EXPECT_NE(commands.find("\nCWD \n"), std::string::npos) << commands;
  EXPECT_NE(commands.find("STOR plain.bin\n"), std::string::npos) << commands;
}

TEST_F(FtpClientTest, RepliesOfSeveralLinesAreReadWhole) {
  // A greeting whose middle lines are hyphen lines, a line beginning with a
  // space and a plain text line; USER, PASS and CWD answered in several lines.
  StartServer({"--greeting", "220-Welcome to the test server", "--greeting", " indented line",
               "--greeting", "plain text line", "--greeting", "220-still the greeting",
               "--greeting", "220 Ready", "--multiline", "USER", "--multiline", "PASS",
               "--multiline", "CWD", "--multiline", "STOR"});
  std::filesystem::create_directory(server_.root() + "/d");
  Upload("/d/f", "payload", 7);
  EXPECT_EQ(test::ReadFile(server_.root() + "/d/f"), "payload");
}

TEST_F(FtpClientTest, CodeAndTextComeFromTheFirstLine) {
  StartServer({"--reply", "PASV=502-No passive mode here|502-second line|502 last line"});
  TV_FTP ftp;
  Login(ftp);
  EXPECT_EQ(FtpFailure([&] { ftp.OpenWrite("/f"); }), "FTPNo passive mode here");
  EXPECT_EQ(ftp.ReplyText(), "No passive mode here");
}

std::string PassiveReplyFor(int port) {
  return "PASV=227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
         std::to_string(port % 256) + ")";
}

// A refused login or open fails naming the command and its reply (or the
// data port that failed); a failed data port leaves no data connection.
struct TRefusalCase {
  const char* name;
  std::string reply;  // the server's answer to one command, "" for none
  const char* user;
  const char* password;
  const char* open;  // "" for the login only, else "read" or "write" of path
  const char* path;
  const char* failure;
};
void PrintTo(const TRefusalCase& c, std::ostream* os) { *os << c.name; }

class FtpRefusal : public FtpClientTest, public ::testing::WithParamInterface<TRefusalCase> {};

TEST_P(FtpRefusal, FailsNamingTheCommandAndItsReply) {
  const TRefusalCase& c = GetParam();
  StartServer(c.reply.empty() ? std::vector<std::string>{} : std::vector{"--reply"s, c.reply});
  TV_FTP ftp;
  EXPECT_EQ(FtpFailure([&] {
              ftp.Connect("127.0.0.1", c.user, server_.port(), c.password);
              if (*c.open)
                std::string_view(c.open) == "read" ? ftp.OpenRead(c.path) : ftp.OpenWrite(c.path);
            }),
            c.failure);
  if (c.reply.starts_with("PASV")) {
    EXPECT_FALSE(ftp.HasDataConnection());
  }
}

const char* const U = kFtpUser;
const char* const P = kFtpPassword;
const char* const kNoSocket = "Couldnt open output socket";
INSTANTIATE_TEST_SUITE_P(
    Replies, FtpRefusal,
    ::testing::Values(
        TRefusalCase{"UserAnsweredLoggedIn", "USER=230 Already logged in", U, P, "", "",
                     "USER resulted in 230"},
        // 202 is accepted; this server then refuses TYPE I since nobody logged in.
        TRefusalCase{"PasswordSuperfluousIsAccepted", "PASS=202 Superfluous", U, P, "", "",
                     "TYPE I resulted in 530"},
        TRefusalCase{"PasswordNeedsAccount", "PASS=332 Need account", U, P, "", "",
                     "PASS resulted in 332"},
        TRefusalCase{"WrongPassword", "", U, "wrong", "", "", "PASS resulted in 530"},
        TRefusalCase{"UnknownUser", "", "nobody", P, "", "", "PASS resulted in 530"},
        TRefusalCase{"MissingFolder", "", U, P, "write", "/no/such/f", "CWD resulted in 550"},
        TRefusalCase{"MissingFile", "", U, P, "read", "/missing", "RETR resulted in 550"},
        TRefusalCase{"DataPortThatRefuses", PassiveReplyFor(test::FreeLoopbackPort()), U, P,
                     "write", "/f", kNoSocket},
        TRefusalCase{"DataPortOutOfRange", "PASV=227 Entering Passive Mode (127,0,0,1,999,1)", U, P,
                     "read", "/f", kNoSocket}),
    test::TCaseName());

TEST_F(FtpClientTest, PassiveReplyNamesTheDataAddress) {
  // A listener of the test's own stands in for the server's data port.
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t len = sizeof sa;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
  int port = ntohs(sa.sin_port);
  StartServer({"--reply", PassiveReplyFor(port)});

  TV_FTP ftp;
  Login(ftp);
  // The server itself opened no data port; whatever it answers to STOR, the
  // client must have gone to the address and port of the reply.
  FtpFailure([&] { ftp.OpenWrite("/f"); });
  EXPECT_EQ(Dotted(ftp.Address()), "127.0.0.1");
  pollfd pfd{listener, POLLIN, 0};
  EXPECT_EQ(::poll(&pfd, 1, 0), 1) << "the client did not connect to the named data port";
  ::close(listener);
}

}  // namespace
}  // namespace vx
