#pragma once
// A real virtual tape drive for tests: a private tgtd on a free loopback port
// with one tape LUN, reached over iSCSI.  Started by the constructor and
// always stopped by the destructor (delete target, delete system; kill -9 only
// when tgtd does not end by itself).
#include <sys/types.h>

#include <string>
#include <vector>

namespace vx::test {

class TTgtTarget {
 public:
  static constexpr const char* kTargetName = "iqn.2026-01.test.vaultix:tape0";

  // tapeMb: size of the fresh tape in MB.
  explicit TTgtTarget(int tapeMb = 64);
  ~TTgtTarget() { Stop(); }
  TTgtTarget(const TTgtTarget&) = delete;
  TTgtTarget& operator=(const TTgtTarget&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Error() const { return error_; }
  // Stops (SIGSTOP) or resumes (SIGCONT) the daemon: a target that has
  // fallen silent in the middle of a session.
  void Freeze(bool frozen) const;

  std::string Url(int lun = 1) const;
  const std::string& Folder() const { return dir_; }

  // Changes the tape LUN: "readonly=1" (write-protected), "online=0" (no tape).
  bool SetParams(const std::string& params);
  // A second LUN that is a disk, not a tape.
  bool AddDiskLun(int lun, int sizeMb);

  // One entry of what the tape holds, as tgtimg lists it.
  struct TEntry {
    char Kind;  // 'D' data block, 'F' file mark, 'E' end of data
    long Size;
  };
  std::vector<TEntry> TapeContents() const;

  void Stop();

 private:
  std::string Adm(const std::string& args) const { return "tgtadm -C " + control_ + " " + args; }
  bool Listening() const;
  bool StartDaemon();

  std::string dir_;
  std::string image_;
  std::string control_;
  int port_ = -1;
  pid_t pid_ = -1;
  bool ready_ = false;
  std::string error_;
};

}  // namespace vx::test
