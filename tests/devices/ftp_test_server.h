#pragma once
// FTP servers for the tests, started as child processes on 127.0.0.1 and
// always stopped (by their process id) when the object goes away.
//   FtpTestServer::Faulty({...})  - tests/devices/ftp_servers/fault_server.py
//   FtpTestServer::Plain()        - the stock pyftpdlib daemon
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vx::ftptest {

inline constexpr const char* kFtpUser = "vx";
inline constexpr const char* kFtpPassword = "secret";

// A port that was free a moment ago (bind to port 0, read it back, close).
inline int FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(fd);
  return ntohs(sa.sin_port);
}

inline bool AcceptsConnections(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}

inline std::string MakeTempDir(const std::string& tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / ("vx-" + tag + "-XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) return {};
  return buf.data();
}

// A fresh folder under the temporary folder, removed with its contents.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag = "ftptest") : path_(MakeTempDir(tag)) {}
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Pseudo-random bytes (not compressible), reproducible from the start value.
inline std::string RandomBytes(std::size_t n, unsigned start) {
  std::string s(n, '\0');
  std::uint32_t x = start * 2654435761u + 1;
  for (auto& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xFF);
  }
  return s;
}

// Runs fn on another thread and reports whether it finished within the
// limit: a guard against hangs, far above the time the call needs.
template <class Fn>
bool FinishesWithin(std::chrono::seconds limit, Fn fn) {
  auto task = std::make_shared<std::packaged_task<void()>>(std::move(fn));
  auto done = task->get_future();
  std::thread([task] { (*task)(); }).detach();
  if (done.wait_for(limit) != std::future_status::ready) return false;
  done.get();  // passes an exception of fn on
  return true;
}

class FtpTestServer {
 public:
  FtpTestServer() = default;
  FtpTestServer(const FtpTestServer&) = delete;
  FtpTestServer& operator=(const FtpTestServer&) = delete;
  ~FtpTestServer() { Stop(); }

  // The fault-injecting server; extra arguments switch its faults on.
  bool StartFaulty(const std::vector<std::string>& extra = {}) {
    if (!MakeRoot()) return false;
    log_ = root_ + ".commands";
    std::vector<std::string> args = {"/usr/bin/python3",
                                     std::string(VX_SOURCE_DIR) + "/tests/devices/ftp_servers/fault_server.py",
                                     "--root", root_, "--user", kFtpUser, "--password", kFtpPassword,
                                     "--log", log_};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!Spawn(args, true)) return false;
    return true;
  }

  // The stock daemon, untouched.
  bool StartPlain() {
    if (!MakeRoot()) return false;
    port_ = FreeLoopbackPort();
    std::vector<std::string> args = {"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1",
                                     "-p", std::to_string(port_), "-w", "-d", root_,
                                     "-u", kFtpUser, "-P", kFtpPassword};
    if (!Spawn(args, false)) return false;
    return WaitUntilAccepting();
  }

  // Any daemon, given its full command line; waits until port accepts.
  bool StartCommand(const std::vector<std::string>& args, int port) {
    port_ = port;
    if (!Spawn(args, false)) return false;
    return WaitUntilAccepting();
  }

  void Stop() {
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

  int port() const { return port_; }
  const std::string& root() const { return root_; }
  // The command lines the fault-injecting server received, one a line.
  std::string Commands() const { return ReadWholeFile(log_); }

 private:
  bool MakeRoot() {
    root_ = MakeTempDir("ftproot");
    return !root_.empty();
  }

  bool WaitUntilAccepting() {
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

  bool Spawn(const std::vector<std::string>& args, bool readPort) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    // Everything the child needs is prepared before fork: between fork and
    // exec it must not allocate.
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test run
      if (::getppid() != parent) ::_exit(127);
      ::dup2(fds[1], STDOUT_FILENO);
      int devnull = ::open("/dev/null", O_RDWR);
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

  bool ReadPortLine(int fd) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd pfd{fd, POLLIN, 0};
      if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
      char buf[64];
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) return false;
      line.append(buf, static_cast<std::size_t>(n));
    }
    std::istringstream in(line);
    std::string word;
    in >> word >> port_;
    return word == "PORT" && port_ > 0;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  std::string root_;
  std::string log_;
};

}  // namespace vx::ftptest
