// The FTP client against a server that attacks it: a PASV reply that sends
// the data elsewhere, a reply that never ends however fast it comes, and
// values that would smuggle commands onto the control connection.  The
// reply reader's limits are also checked on bytes from memory.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ostream>

#include "common/files.h"
#include "common/ftp_fixture.h"
#include "common/named_case.h"
#include "common/net.h"
#include "devices/ftp_client.h"

namespace vx {
namespace {

using namespace std::chrono_literals;
using test::FinishesWithin;
using test::kFtpPassword;
using test::kFtpUser;
using test::TFtpServer;
using Clock = std::chrono::steady_clock;

// A listening socket of the test's own on addr:port; -1 when it cannot bind.
int ListenOn(const char* addr, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, addr, &sa.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

using FtpHostileServerTest = test::TFtpClientTest;

TEST_F(FtpHostileServerTest, PassiveReplyNamingAnotherHostIsNotFollowed) {
  // The server's data port listens on 127.0.0.1; its PASV replies name
  // 127.0.0.2, where a listener of the test waits for data that must never
  // come.
  const int port = test::FreeLoopbackPort();
  const int trap = ListenOn("127.0.0.2", port);
  ASSERT_NE(trap, -1) << "cannot listen on 127.0.0.2:" << port;
  StartServer({"--masquerade", "127.0.0.2", "--pasv-ports",
               std::to_string(port) + "-" + std::to_string(port)});

  std::vector<std::string> notices;
  TV_FTP ftp;
  ftp.OnNotice = [&](const std::string& line) { notices.push_back(line); };
  Login(ftp);
  ftp.OpenWrite("/f");
  const std::string data = test::NoiseBytes(50000, 9);
  int sent = 0;
  ftp.WriteData(data.data(), static_cast<int>(data.size()), sent);
  ASSERT_EQ(sent, static_cast<int>(data.size()));
  ftp.CloseFile();

  EXPECT_EQ(test::ReadFile(server_.root() + "/f"), data);
  pollfd pfd{trap, POLLIN, 0};
  EXPECT_EQ(::poll(&pfd, 1, 0), 0) << "the client connected to the host the reply named";
  ::close(trap);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("127.0.0.2"), std::string::npos) << notices[0];
  EXPECT_NE(notices[0].find("127.0.0.1"), std::string::npos) << notices[0];
}

struct FloodCase {
  const char* name;
  int replyTimeoutMs;
  std::size_t maxReplyBytes;
};

// Test names and failure messages show the case by its name.
void PrintTo(const FloodCase& c, std::ostream* os) { *os << c.name; }

class FtpFloodTest : public FtpHostileServerTest,
                     public ::testing::WithParamInterface<FloodCase> {};

TEST_P(FtpFloodTest, EndlessFastReplyEndsWithinTheLimit) {
  // The greeting never ends and its lines come as fast as they are read.
  const FloodCase& c = GetParam();
  StartServer({"--flood-greeting"});
  TV_FTP ftp(c.replyTimeoutMs, -1, c.maxReplyBytes);
  std::string what = "(no failure)";
  const auto start = Clock::now();
  ASSERT_TRUE(FinishesWithin(60s, [&] {
    try {
      Login(ftp);
    } catch (const TVFTPException& e) {
      what = e.what();
    }
  }));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  EXPECT_EQ(what, "USER resulted in 999");
  EXPECT_LT(took.count(), c.replyTimeoutMs + 1000) << "the deadline did not hold";
}

INSTANTIATE_TEST_SUITE_P(Limits, FtpFloodTest,
                         ::testing::Values(FloodCase{"SizeCapEndsIt", 20000,
                                                     TFtpReplyReader::kDefaultMaxReplyBytes},
                                           FloodCase{"DeadlineEndsIt", 1000, std::size_t{1} << 40}),
                         vx::test::TCaseName());

struct UnsafeCase {
  const char* name;
  std::string user, password, host, path;
  const char* field;
};

// Test names and failure messages show the case by its name.
void PrintTo(const UnsafeCase& c, std::ostream* os) { *os << c.name; }

class FtpUnsafeValueTest : public FtpHostileServerTest,
                           public ::testing::WithParamInterface<UnsafeCase> {};

TEST_P(FtpUnsafeValueTest, RefusedBeforeAnythingIsSent) {
  const UnsafeCase& c = GetParam();
  StartServer({});
  test::WriteFile(server_.root() + "/victim", "keep me");
  const std::string host = c.host.empty() ? "127.0.0.1" : c.host;
  TV_FTP ftp;
  std::string what = "(no failure)";
  bool loggedIn = false;
  try {
    ftp.Connect(host, c.user, server_.port(), c.password);
    loggedIn = true;
    ftp.OpenWrite(c.path);
  } catch (const TVFTPUnsafeValue& e) {
    what = e.what();
  }
  EXPECT_NE(what.find(c.field), std::string::npos) << what;
  EXPECT_EQ(loggedIn, std::string(c.field) == "remote path");
  ftp.Disconnect();
  // A second client's whole login makes sure the server has handled all
  // that the first one sent.
  TV_FTP witness;
  Login(witness);
  const std::string commands = server_.Commands();
  std::size_t logins = 0;
  for (std::size_t at = commands.find("USER "); at != std::string::npos;
       at = commands.find("USER ", at + 1))
    ++logins;
  // A bad login value sends nothing at all; a bad path nothing after login.
  EXPECT_EQ(logins, loggedIn ? 2u : 1u) << commands;
  EXPECT_EQ(commands.find("CWD"), std::string::npos) << commands;
  EXPECT_EQ(commands.find("DELE"), std::string::npos) << commands;
  EXPECT_EQ(test::ReadFile(server_.root() + "/victim"), "keep me");
}

INSTANTIATE_TEST_SUITE_P(Values, FtpUnsafeValueTest,
                         ::testing::Values(UnsafeCase{"UserWithLineFeed", "vx\nDELE victim",
                                                      kFtpPassword, "", "/f", "user name"},
                                           UnsafeCase{"PasswordWithCarriageReturn", kFtpUser,
                                                      "secret\rDELE victim", "", "/f", "password"},
                                           UnsafeCase{"HostWithNul", kFtpUser, kFtpPassword,
                                                      std::string("127.0.0.1\0x", 11), "/f",
                                                      "host"},
                                           UnsafeCase{"PathWithCrLf", kFtpUser, kFtpPassword, "",
                                                      "/f\r\nDELE victim", "remote path"},
                                           UnsafeCase{"PathWithNul", kFtpUser, kFtpPassword, "",
                                                      std::string("/f\0.x", 5), "remote path"}),
                         vx::test::TCaseName());

}  // namespace
}  // namespace vx

namespace vx {
namespace {

// Bytes from memory, then nothing (as a closed connection).
struct MemorySource {
  std::string bytes;
  std::size_t at = 0;
  bool operator()(char& c) {
    if (at >= bytes.size()) return false;
    c = bytes[at++];
    return true;
  }
};

TEST(FtpReplyReader, ReplyBeyondTheCapIsUnreadableUntilCleared) {
  const std::size_t cap = 1000;
  std::string flood;
  while (flood.size() < 5 * cap) flood += "220-more of the same\r\n";
  MemorySource src{flood + "220 end\r\n331 next\r\n"};
  TFtpReplyReader reader(cap);
  auto next = [&](char& c) { return src(c); };

  EXPECT_EQ(reader.Read(next), 999);
  EXPECT_TRUE(reader.Overflowed());
  EXPECT_TRUE(reader.Failed());
  EXPECT_EQ(src.at, cap + 1) << "the reader went on past its cap";
  // A failed connection delivers nothing more, and consumes nothing.
  EXPECT_EQ(reader.Read(next), 999);
  EXPECT_EQ(src.at, cap + 1);

  // A reply of exactly the cap still counts.
  const std::string whole = "220-a\r\n220 b\r\n";
  MemorySource exact{whole + "230 c\r\n"};
  TFtpReplyReader fits(whole.size());
  auto nextExact = [&](char& c) { return exact(c); };
  EXPECT_EQ(fits.Read(nextExact), 220);
  EXPECT_EQ(fits.Text(), "a");
  EXPECT_FALSE(fits.Failed());
  EXPECT_EQ(fits.Read(nextExact), 230);
}

}  // namespace
}  // namespace vx
