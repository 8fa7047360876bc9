// The FTP client against servers that misbehave: refused or cut connections,
// silent servers, data connections dropped or stalled in the middle of a
// transfer.  Every case must end with an error, never hang.  The guards
// (FinishesWithin) are far above the time each case needs.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/files.h"
#include "common/ftp_fixture.h"
#include "common/named_case.h"
#include "common/net.h"
#include "devices/ftp_client.h"

namespace vx {
namespace {

using namespace std::chrono_literals;
using test::FinishesWithin;
using test::FtpFailure;
using test::kFtpPassword;
using test::kFtpUser;

constexpr int kShortReplyMs = 400;
constexpr int kShortDataMs = 300;

class FtpFaultTest : public test::TFtpClientTest {
 protected:
  void PutFile(const std::string& name, const std::string& bytes) {
    test::WriteFile(server_.root() + "/" + name, bytes);
  }
};

TEST_F(FtpFaultTest, PortWithoutServerIsRefused) {
  int port = test::FreeLoopbackPort();
  TV_FTP ftp;
  EXPECT_EQ(FtpFailure([&] { ftp.Connect("127.0.0.1", kFtpUser, port, kFtpPassword); }),
            "Couldnt open output socket");
  EXPECT_EQ(FtpFailure([&] { ftp.Connect("127.0.0.1", kFtpUser, 70000, kFtpPassword); }),
            "Couldnt open output socket");
}

// A login that meets a fault ends with the reply code 999 of the command it
// was waiting on, never with a hang.
struct TLoginFault {
  const char* name;
  std::vector<std::string> faults;
  const char* failure;
  bool receiveError;  // the client marks the control connection as broken
};
void PrintTo(const TLoginFault& c, std::ostream* os) { *os << c.name; }

class FtpLoginFault : public FtpFaultTest, public ::testing::WithParamInterface<TLoginFault> {};

TEST_P(FtpLoginFault, EndsWithTheCommandThatGotNoReply) {
  const TLoginFault& c = GetParam();
  StartServer(c.faults);
  TV_FTP ftp(kShortReplyMs);
  EXPECT_EQ(FtpFailure([&] { Login(ftp); }), c.failure);
  if (c.receiveError) {
    EXPECT_TRUE(ftp.ReceiveError());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FtpLoginFault,
    ::testing::Values(
        // The greeting is cut after its first line of several: the client gets
        // no further line, every reply from then on reads as 999.
        TLoginFault{"ConnectionClosedInsideTheGreeting",
                    {"--greeting", "220-first of several lines", "--close-after-greeting"},
                    "USER resulted in 999",
                    true},
        // USER is answered "331-..." and the connection ends before the last
        // line: the code of the first line counts (331 passes), PASS then
        // reads nothing.
        TLoginFault{"ConnectionClosedInsideALoginReply",
                    {"--reply", "USER=331-Password, please|331-and more", "--close-after-reply"},
                    "PASS resulted in 999",
                    true},
        TLoginFault{"SilentServerTimesOut", {"--silent", "PASS"}, "PASS resulted in 999", true},
        // Every line arrives in time, but the reply never ends.
        TLoginFault{
            "EndlessReplyIsCutAtTheTimeOut", {"--drip-greeting"}, "USER resulted in 999", false}),
    vx::test::TCaseName());

// A reply that never arrives after STOR.
TEST_F(FtpFaultTest, SilentServerAfterStorTimesOut) {
  StartServer({"--silent", "STOR"});
  TV_FTP ftp(kShortReplyMs);
  Login(ftp);
  EXPECT_EQ(FtpFailure([&] { ftp.OpenWrite("/f"); }), "STOR resulted in 999");
}

TEST_F(FtpFaultTest, MissingClosingReplyFailsTheClose) {
  StartServer({"--silent-close"});
  TV_FTP ftp(kShortReplyMs);
  Login(ftp);
  ftp.OpenWrite("/f");
  int sent = 0;
  ftp.WriteData("abc", 3, sent);
  ASSERT_EQ(sent, 3);
  EXPECT_EQ(FtpFailure([&] { ftp.CloseFile(); }), "Close file resulted in 999");
}

// The server cuts the data connection after 40,000 of 100,000 bytes, by
// closing it ("drop", with a data time-out made long: only the end of the
// connection may end the read) or by falling silent ("stall", ended by the
// short data time-out).  Either way the read returns what came.
struct TDownloadCut {
  const char* name;
  const char* mode;
  int dataMs;
};
void PrintTo(const TDownloadCut& c, std::ostream* os) { *os << c.name; }

class FtpDownloadCut : public FtpFaultTest, public ::testing::WithParamInterface<TDownloadCut> {};

TEST_P(FtpDownloadCut, ReturnsTheBytesThatCame) {
  const TDownloadCut& c = GetParam();
  StartServer({"--retr-limit", "40000", "--retr-mode", c.mode});
  const std::string data = test::NoiseBytes(100000, 3);
  PutFile("f", data);
  TV_FTP ftp(kShortReplyMs, c.dataMs);
  Login(ftp);
  ftp.OpenRead("/f");
  std::string block(65536, '\0');
  int got = -1;
  ASSERT_TRUE(FinishesWithin(30s, [&] { ftp.ReadData(block.data(), 65536, got); }));
  EXPECT_EQ(got, 40000);
  EXPECT_EQ(block.substr(0, 40000), data.substr(0, 40000));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FtpDownloadCut,
    ::testing::Values(TDownloadCut{"DownloadCutShortEndsTheReadAtOnce", "drop", 10 * 60 * 1000},
                      TDownloadCut{"StalledDownloadReturnsTheShortCountAfterTheTimeOut", "stall",
                                   kShortDataMs}),
    vx::test::TCaseName());

// Writes up to `total` bytes in 32 KiB pieces; returns the first count that
// fell short, or the piece length when all went out.
int WriteUntilShort(TV_FTP& ftp, std::size_t total) {
  const std::string piece = test::NoiseBytes(32768, 5);
  for (std::size_t at = 0; at < total; at += piece.size()) {
    int sent = 0;
    ftp.WriteData(piece.data(), static_cast<int>(piece.size()), sent);
    if (sent != static_cast<int>(piece.size())) return sent;
  }
  return static_cast<int>(piece.size());
}

// The server takes 64 KiB of an upload and then drops the connection or
// stops reading: a send falls short instead of blocking.
class FtpUploadCut : public FtpFaultTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FtpUploadCut, GivesAShortSend) {
  StartServer({"--stor-limit", "65536", "--stor-mode", GetParam()});
  TV_FTP ftp(kShortReplyMs);
  Login(ftp);
  ftp.OpenWrite("/f");
  int last = 0;
  ASSERT_TRUE(FinishesWithin(60s, [&] { last = WriteUntilShort(ftp, 256u << 20); }));
  EXPECT_LT(last, 32768);
}

INSTANTIATE_TEST_SUITE_P(Faults, FtpUploadCut, ::testing::Values("drop", "stall"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(std::string_view(info.param) == "drop"
                                                  ? "UploadDroppedByTheServer"
                                                  : "UploadThatTheServerStopsReading");
                         });

TEST_F(FtpFaultTest, NoConnectionMeansNoData) {
  TV_FTP ftp;
  int count = 5;
  ftp.WriteData("abc", 3, count);
  EXPECT_EQ(count, -1);
  char buf[4];
  ftp.ReadData(buf, 4, count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(FtpFailure([&] { ftp.CloseFile(); }), "Close file resulted in 999");
  EXPECT_TRUE(ftp.ReceiveError());
}

}  // namespace
}  // namespace vx
