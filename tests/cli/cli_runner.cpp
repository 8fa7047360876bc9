#include "cli/cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

namespace vxtest {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Argv(const TCliCall& call) {
  std::vector<std::string> argv;
  if (!call.runAsUser.empty()) {
    const passwd* pw = ::getpwnam(call.runAsUser.c_str());
    if (pw == nullptr) std::abort();
    argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(pw->pw_uid),
            "--regid=" + std::to_string(pw->pw_gid), "--clear-groups", "--"};
  }
  argv.push_back(CliBinary());
  argv.insert(argv.end(), call.args.begin(), call.args.end());
  return argv;
}

[[noreturn]] void ExecChild(const TCliCall& call) {
  for (const auto& [k, v] : call.env) ::setenv(k.c_str(), v.c_str(), 1);
  if (call.fileSizeLimit > 0) {
    const rlimit limit{static_cast<rlim_t>(call.fileSizeLimit),
                       static_cast<rlim_t>(call.fileSizeLimit)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
  }
  std::vector<std::string> argv = Argv(call);
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  ::execv(raw[0], raw.data());
  ::_exit(127);
}

void Finish(pid_t pid, TCliRun& run) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    run.exited = !run.killedByGuard;
    run.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    run.signal = WTERMSIG(status);
  }
}

// Reads what fd has; false at its end.
bool Drain(int fd, std::string& into) {
  char buf[4096];
  ssize_t n = ::read(fd, buf, sizeof buf);
  if (n > 0) {
    into.append(buf, static_cast<std::size_t>(n));
    return true;
  }
  return n < 0 && errno == EINTR;
}

}  // namespace

std::string CliBinary() { return VX_BINARY_DIR "/src/cli/vaultix-cli"; }

TCliRun RunCli(const TCliCall& call) {
  TCliRun run;
  int outPipe[2];
  int errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) std::abort();
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open(call.stdinPath.c_str(), O_RDONLY);
    if (in >= 0) ::dup2(in, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ExecChild(call);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (call.closeStdoutReader) ::close(outPipe[0]);
  if (call.signalAtFirstOutput != 0) ::fcntl(outPipe[0], F_SETPIPE_SZ, 4096);

  auto deadline = Clock::now() + std::chrono::seconds(call.guardSeconds);
  bool outOpen = !call.closeStdoutReader;
  bool errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                     {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    int ready = ::poll(fds, 2, 100);
    if (Clock::now() > deadline && !run.killedByGuard) {
      run.killedByGuard = true;
      ::kill(pid, SIGKILL);
    }
    if (ready <= 0) continue;
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) {
      outOpen = Drain(outPipe[0], run.out);
      if (call.signalAtFirstOutput != 0 && !run.out.empty()) {
        ::kill(pid, call.signalAtFirstOutput);
        outOpen = false;  // read no further; the pipe stays open
      }
    }
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) errOpen = Drain(errPipe[0], run.err);
  }
  if (!call.closeStdoutReader) ::close(outPipe[0]);
  ::close(errPipe[0]);
  Finish(pid, run);
  return run;
}

TCliRun RunCliOnTerminal(const TCliCall& call,
                         const std::vector<std::pair<std::string, std::string>>& answers) {
  TCliRun run;
  int outPipe[2];
  if (::pipe(outPipe) != 0) std::abort();
  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::dup2(outPipe[1], 1);
    ::close(outPipe[0]);
    ExecChild(call);
  }
  ::close(outPipe[1]);

  auto deadline = Clock::now() + std::chrono::seconds(call.guardSeconds);
  std::size_t next = 0;
  std::size_t searchFrom = 0;
  bool outOpen = true;
  bool ttyOpen = true;
  while (outOpen || ttyOpen) {
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {ttyOpen ? master : -1, POLLIN, 0}};
    int ready = ::poll(fds, 2, 100);
    if (Clock::now() > deadline && !run.killedByGuard) {
      run.killedByGuard = true;
      ::kill(pid, SIGKILL);
    }
    if (ready > 0) {
      if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) outOpen = Drain(outPipe[0], run.out);
      // A pseudo-terminal whose other side is gone reports an error (EIO).
      if (ttyOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
        ttyOpen = Drain(master, run.err);
    }
    if (next < answers.size()) {
      auto at = run.err.find(answers[next].first, searchFrom);
      if (at != std::string::npos) {
        searchFrom = at + answers[next].first.size();
        const std::string& typed = answers[next].second;
        if (::write(master, typed.data(), typed.size()) < 0) std::abort();
        ++next;
      }
    }
  }
  ::close(outPipe[0]);
  ::close(master);
  Finish(pid, run);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  std::stringstream ss(line);
  for (std::string x; std::getline(ss, x, '\t');) f.push_back(x);
  return f;
}

}  // namespace vxtest
