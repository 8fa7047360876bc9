#pragma once
// Small restored files written on a thread of their own.  The caller's
// thread reads and checks a file's data and hands them over whole; the
// writer creates, writes and names the files one after the other while the
// caller goes on with the next ones.  Each finished file comes back to the
// caller's thread in the order handed over, so every report about it keeps
// its place.  Restoring many small files is bound by the file system's work
// per file; this puts that work beside the reading.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
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
  // Filled in by the writer.
  TTargetFile file;
  bool created = false;
  bool committed = false;
};

class TWriteBehind {
 public:
  // Files up to this size are handed over.
  static constexpr std::uint64_t kSmallFile = 65536;  // 64 KiB

  using TDone = std::function<void(TWriteJob&)>;
  // The writer uses folders alone until Drain() returns; done is called on
  // the caller's thread for each job, in the order handed over.
  TWriteBehind(TTargetFolders& folders, unsigned newMode, TDone done);
  // Writes what is left; what was not delivered is not reported.
  ~TWriteBehind();
  TWriteBehind(const TWriteBehind&) = delete;
  TWriteBehind& operator=(const TWriteBehind&) = delete;

  // Hands a job over; delivers the jobs finished by then, and waits for the
  // oldest while too many are outstanding.
  void Push(std::unique_ptr<TWriteJob> job);
  // Waits for every job and delivers them.
  void Drain() { Deliver(0); }
  // Whether a job for that target is not yet delivered.
  bool Holds(const std::string& target) const { return targets_.count(target) != 0; }

 private:
  static constexpr std::size_t kWindow = 64;
  static constexpr std::uint64_t kBatch = 8;
  void Work();
  void Write(TWriteJob& job) const;
  // Delivers finished jobs until at most `keep` are outstanding and none
  // finished is left.
  void Deliver(std::size_t keep);

  TTargetFolders& folders_;
  const unsigned newMode_;
  TDone done_;
  std::unordered_set<std::string> targets_;  // the caller's thread's own
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable finished_;
  std::deque<std::unique_ptr<TWriteJob>> jobs_;  // handed over, not yet delivered
  std::uint64_t pushed_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t delivered_ = 0;
  bool stop_ = false;
  std::thread thread_;  // last: started once everything else is ready
};

}  // namespace vx
