#pragma once
// FTP servers for the tests, started as child processes on 127.0.0.1 and
// always stopped (by their process id) when the object goes away.
//   StartFaulty({...}) - tests/devices/ftp_servers/fault_server.py
//   StartPlain()       - the stock pyftpdlib daemon
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vx::test {

inline constexpr const char* kFtpUser = "vx";
inline constexpr const char* kFtpPassword = "secret";

// Runs fn on another thread and reports whether it finished within the
// limit: a guard against hangs, far above the time the call needs.  An
// exception of fn is passed on.
bool FinishesWithin(std::chrono::seconds limit, std::function<void()> fn);

class TFtpServer {
 public:
  TFtpServer() = default;
  TFtpServer(const TFtpServer&) = delete;
  TFtpServer& operator=(const TFtpServer&) = delete;
  ~TFtpServer() { Stop(); }

  // The fault-injecting server; extra arguments switch its faults on.
  bool StartFaulty(const std::vector<std::string>& extra = {});
  // The stock daemon, untouched.
  bool StartPlain();
  // Any daemon, given its full command line; waits until port accepts.
  bool StartCommand(const std::vector<std::string>& args, int port);
  void Stop();

  int port() const { return port_; }
  const std::string& root() const { return root_; }
  // The command lines the fault-injecting server received, one a line.
  std::string Commands() const;

 private:
  bool MakeRoot();
  bool WaitUntilAccepting();
  bool Spawn(const std::vector<std::string>& args, bool readPort);
  bool ReadPortLine(int fd);

  pid_t pid_ = -1;
  int port_ = 0;
  std::string root_;
  std::string log_;
};

}  // namespace vx::test
