#pragma once
// The FTP client tests' fixture: a fault server of the test's own, a login to
// it, and what a failure of the client says.  Header only: it needs the
// devices layer, which the support library does not link.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/ftp_server.h"
#include "devices/ftp_client.h"

namespace vx::test {

// The message of the client's failure in fn, "(no failure)" when there is
// none, "(hangs)" when fn has not ended within 30 s.
inline std::string FtpFailure(const std::function<void()>& fn) {
  std::string what = "(no failure)";
  const bool finished = FinishesWithin(std::chrono::seconds(30), [&] {
    try {
      fn();
    } catch (const TVFTPException& e) {
      what = e.what();
    }
  });
  return finished ? what : "(hangs)";
}

class TFtpClientTest : public ::testing::Test {
 protected:
  void StartServer(const std::vector<std::string>& faults = {}) {
    ASSERT_TRUE(server_.StartFaulty(faults)) << "the test FTP server did not start";
  }
  void Login(TV_FTP& ftp) { ftp.Connect("127.0.0.1", kFtpUser, server_.port(), kFtpPassword); }

  TFtpServer server_;
};

}  // namespace vx::test
