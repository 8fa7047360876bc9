#pragma once
// Small restored files written on threads of their own.  The caller's
// thread reads and checks a file's data, opens its folder and hands them
// over whole; the writers create, write and name the files while the caller
// goes on with the next ones.  Each finished file comes back to the caller's
// thread in the order handed over, so every report about it keeps its
// place.  Restoring many small files is bound by the file system's work per
// file; this puts that work beside the reading, and on a disk two writers
// get through it faster than one (one goes on while the other waits for
// the file system).
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/target_writer.h"

namespace vx {

struct TDirRecord;

// One small file: what the caller hands over, and what became of it.
struct TWriteJob {
  const TDirRecord* record = nullptr;
  std::string target;
  TTargetFile::TReadOnly readOnly = TTargetFile::TReadOnly::Keep;
  std::vector<std::uint8_t> data;
  double time = 0;
  bool mayReplace = false;
  bool crcMatches = true;
  // Filled in by Push.
  TTargetPlace place;
  std::int64_t unixTime = 0;
  // Filled in by the writer.
  TTargetFile file;
  bool created = false;
  bool committed = false;
  std::atomic<bool> finished{false};
};

class TWriteBehind {
 public:
  // Files up to this size are handed over.
  static constexpr std::uint64_t kSmallFile = 65536;  // 64 KiB

  using TDone = std::function<void(TWriteJob&)>;
  // Folders are opened on the caller's thread, in the order of the files,
  // files are made in them by `writers` threads; done is called on the
  // caller's thread for each job, in the order handed over.
  TWriteBehind(TTargetFolders& folders, unsigned newMode, TDone done, unsigned writers = 2);
  // Writes what is left; what was not delivered is not reported.
  ~TWriteBehind();
  TWriteBehind(const TWriteBehind&) = delete;
  TWriteBehind& operator=(const TWriteBehind&) = delete;

  // Opens the job's folder and hands the job over; delivers the jobs
  // finished by then, and waits for the oldest while too many are
  // outstanding.
  void Push(std::unique_ptr<TWriteJob> job);
  // Waits for every job and delivers them.
  void Drain() { Deliver(0); }
  // The writer threads started: none when the system refused every one
  // (nothing may be handed over then).
  unsigned Writers() const { return static_cast<unsigned>(threads_.size()); }
  // Whether a job for that target is not yet delivered.
  bool Holds(const std::string& target) const { return targets_.count(target) != 0; }

 private:
  static constexpr std::size_t kWindow = 64;
  static constexpr std::uint64_t kBatch = 8;
  void Work();
  void Write(TWriteJob& job) const;
  void WakeWriters();
  // Waits for the files outstanding when the folder of target lies where one
  // of them goes (a file and a folder of one name: whichever comes first in
  // the set is made, as on one thread).
  void WaitForFilesOnTheWay(const std::string& target);
  // Delivers finished jobs until at most `keep` are outstanding and none
  // finished is left.
  void Deliver(std::size_t keep);

  TTargetFolders& folders_;
  const unsigned newMode_;
  TDone done_;
  // The caller's thread's own.
  std::unordered_set<std::string> targets_;
  std::string folder_;  // of the last job handed over
  std::uint64_t delivered_ = 0;
  // Shared without a lock: the caller puts job n in ring_[n % kWindow]
  // before it counts it in pushed_, and takes it out only once it is
  // finished; a writer claims it by counting it in taken_.
  std::array<std::unique_ptr<TWriteJob>, kWindow> ring_;
  std::atomic<std::uint64_t> pushed_{0};
  std::atomic<std::uint64_t> taken_{0};
  std::atomic<unsigned> idle_{0};     // writers about to wait for work
  std::atomic<bool> waiting_{false};  // the caller waits for the oldest job
  std::atomic<bool> stop_{false};
  // Rung (counted up) to wake the writers, and the caller.
  std::atomic<std::uint32_t> workBell_{0};
  std::atomic<std::uint32_t> doneBell_{0};
  std::vector<std::thread> threads_;  // last: started once everything else is ready
};

}  // namespace vx
