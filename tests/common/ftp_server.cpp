#include "common/ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "common/files.h"
#include "common/net.h"

namespace vx::test {

bool FinishesWithin(std::chrono::seconds limit, std::function<void()> fn) {
  auto task = std::make_shared<std::packaged_task<void()>>(std::move(fn));
  auto done = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (done.wait_for(limit) != std::future_status::ready) return false;
  done.get();
  return true;
}

bool TFtpServer::StartFaulty(const std::vector<std::string>& extra) {
  if (!MakeRoot()) return false;
  log_ = root_ + ".commands";
  std::vector<std::string> args = {
      "/usr/bin/python3",
      std::string(VX_SOURCE_DIR) + "/tests/devices/ftp_servers/fault_server.py",
      "--root",
      root_,
      "--user",
      kFtpUser,
      "--password",
      kFtpPassword,
      "--log",
      log_};
  args.insert(args.end(), extra.begin(), extra.end());
  return Spawn(args, true);
}

bool TFtpServer::StartPlain() {
  if (!MakeRoot()) return false;
  port_ = FreeLoopbackPort();
  std::vector<std::string> args = {"/usr/bin/python3",
                                   "-m",
                                   "pyftpdlib",
                                   "-i",
                                   "127.0.0.1",
                                   "-p",
                                   std::to_string(port_),
                                   "-w",
                                   "-d",
                                   root_,
                                   "-u",
                                   kFtpUser,
                                   "-P",
                                   kFtpPassword};
  if (!Spawn(args, false)) return false;
  return WaitUntilAccepting();
}

bool TFtpServer::StartCommand(const std::vector<std::string>& args, int port) {
  port_ = port;
  if (!Spawn(args, false)) return false;
  return WaitUntilAccepting();
}

void TFtpServer::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {  // up to 3 s
      gone = ::waitpid(pid_, &status, WNOHANG) == pid_;
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!gone) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  if (!root_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    if (!log_.empty()) std::filesystem::remove(log_, ec);
    root_.clear();
  }
}

std::string TFtpServer::Commands() const {
  std::error_code ec;
  return std::filesystem::exists(log_, ec) ? ReadFile(log_) : std::string();
}

bool TFtpServer::MakeRoot() {
  std::string templ = (std::filesystem::temp_directory_path() / "vx-ftproot-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) return false;
  root_ = templ;
  return true;
}

bool TFtpServer::WaitUntilAccepting() {
  for (int i = 0; i < 1000; ++i) {  // up to ~20 s
    if (AcceptsConnections(port_)) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool TFtpServer::Spawn(const std::vector<std::string>& args, bool readPort) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  // Everything the child needs is prepared before fork: between fork and
  // exec it must not allocate.
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test run
    if (::getppid() != parent) ::_exit(127);
    ::dup2(fds[1], STDOUT_FILENO);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, STDIN_FILENO);
    ::dup2(devnull, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  bool ok = true;
  if (readPort) ok = ReadPortLine(fds[0]);
  ::close(fds[0]);
  return ok;
}

bool TFtpServer::ReadPortLine(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[64];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    line.append(buf, static_cast<std::size_t>(n));
  }
  std::istringstream in(line);
  std::string word;
  in >> word >> port_;
  return word == "PORT" && port_ > 0;
}

}  // namespace vx::test
