#include "common/tgt_target.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "common/net.h"

namespace vx::test {

namespace {

bool Run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

TTgtTarget::TTgtTarget(int tapeMb) {
  char tmpl[] = "/tmp/vx-tgt-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) {
    error_ = "mkdtemp failed";
    return;
  }
  dir_ = tmpl;
  image_ = dir_ + "/tape.img";
  if (!Run("tgtimg --op new --device-type tape --barcode TAPE0001 --size " +
           std::to_string(tapeMb) + " --type data --file " + image_)) {
    error_ = "tgtimg cannot create the tape (is tgt installed?)";
    return;
  }
  // A port another program took meanwhile, or a control number in use,
  // makes tgtd end at once: try a few other ports.
  bool started = false;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    port_ = FreeLoopbackPort();
    if (port_ <= 0) {
      error_ = "no free port";
      return;
    }
    control_ = std::to_string(port_ % 32768);  // tgtd takes 0..32767
    started = StartDaemon();
  }
  if (!started) return;
  if (!Run(Adm("--lld iscsi --op new --mode target --tid 1 -T ") + kTargetName) ||
      !Run(Adm("--lld iscsi --op new --mode logicalunit --tid 1 --lun 1 -b ") + image_ +
           " --device-type tape") ||
      !Run(Adm("--lld iscsi --op bind --mode target --tid 1 -I ALL"))) {
    error_ = "tgtadm cannot set up the target";
    return;
  }
  ready_ = true;
}

void TTgtTarget::Freeze(bool frozen) const {
  if (pid_ > 0) ::kill(pid_, frozen ? SIGSTOP : SIGCONT);
}

std::string TTgtTarget::Url(int lun) const {
  return "iscsi://127.0.0.1:" + std::to_string(port_) + "/" + kTargetName + "/" +
         std::to_string(lun);
}

bool TTgtTarget::SetParams(const std::string& params) {
  return Run(Adm("--lld iscsi --op update --mode logicalunit --tid 1 --lun 1 --params ") + params);
}

bool TTgtTarget::AddDiskLun(int lun, int sizeMb) {
  const std::string file = dir_ + "/disk" + std::to_string(lun) + ".img";
  return Run("truncate -s " + std::to_string(sizeMb) + "M " + file) &&
         Run(Adm("--lld iscsi --op new --mode logicalunit --tid 1 --lun ") + std::to_string(lun) +
             " -b " + file);
}

std::vector<TTgtTarget::TEntry> TTgtTarget::TapeContents() const {
  std::vector<TEntry> out;
  const std::string cmd = "tgtimg --op show --device-type tape --file " + image_ + " 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char line[512];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    const std::string s = line;
    const auto sz = s.find(" sz ");
    const long size = sz == std::string::npos ? 0 : std::atol(s.c_str() + sz + 4);
    if (s.find("Uncompressed data") != std::string::npos)
      out.push_back({'D', size});
    else if (s.find("Filemark") != std::string::npos)
      out.push_back({'F', 0});
    else if (s.find("End of Data") != std::string::npos)
      out.push_back({'E', 0});
  }
  ::pclose(p);
  return out;
}

void TTgtTarget::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGCONT);  // a frozen daemon could not answer tgtadm
    Run(Adm("--lld iscsi --op delete --mode target --tid 1 --force"));
    Run(Adm("--op delete --mode system"));
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        ended = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    if (!ended) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    // tgtd leaves its control socket and lock file behind.
    std::error_code ec;
    std::filesystem::remove("/var/run/tgtd/socket." + control_, ec);
    std::filesystem::remove("/var/run/tgtd/socket." + control_ + ".lock", ec);
  }
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    dir_.clear();
  }
  ready_ = false;
}

bool TTgtTarget::Listening() const { return AcceptsConnections(port_); }

bool TTgtTarget::StartDaemon() {
  const std::string log = dir_ + "/tgtd.log";
  const std::string portal = "portal=127.0.0.1:" + std::to_string(port_);
  pid_ = ::fork();
  if (pid_ < 0) {
    error_ = "fork failed";
    return false;
  }
  if (pid_ == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    ::execlp("tgtd", "tgtd", "-f", "-C", control_.c_str(), "--iscsi", portal.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "tgtd ended at start (is tgt installed, are we root?)";
      return false;
    }
    if (Run(Adm("--op show --mode sys")) && Listening()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error_ = "tgtd did not answer within 10 s";
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return false;
}

}  // namespace vx::test
