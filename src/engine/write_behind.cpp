// The writer threads of small restored files.
#include "engine/write_behind.h"

#include <utility>

#include "platform/date_time.h"
#include "support/threads.h"

namespace vx {

TWriteBehind::TWriteBehind(TTargetFolders& folders, unsigned newMode, TDone done, unsigned writers)
    : folders_(folders), newMode_(newMode), done_(std::move(done)) {
  // Writers the system refuses are done without (see Writers()).
  for (unsigned i = 0; i < writers && StartThread(threads_, [this] { Work(); }); ++i) {
  }
}

TWriteBehind::~TWriteBehind() {
  stop_ = true;
  WakeWriters();
  for (std::thread& t : threads_) t.join();
}

void TWriteBehind::WakeWriters() {
  ++workBell_;
  workBell_.notify_all();
}

void TWriteBehind::WaitForFilesOnTheWay(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string_view folder(target.data(), slash == std::string::npos ? 0 : slash);
  if (folder == folder_) return;
  folder_.assign(folder);
  // Only a new folder is opened; a file outstanding at it or at a folder
  // above it is made first.
  for (std::size_t end = folder_.size(); end != 0 && end != std::string::npos;
       end = folder_.rfind('/', end - 1)) {
    if (targets_.count(folder_.substr(0, end)) != 0) {
      Drain();
      return;
    }
  }
}

void TWriteBehind::Push(std::unique_ptr<TWriteJob> job) {
  WaitForFilesOnTheWay(job->target);
  job->place = folders_.Place(job->target);
  job->unixTime = folders_.Times().ToUnix(DateTimeToDos(job->time));
  targets_.insert(job->target);
  // Deliver() left fewer than kWindow outstanding, so this slot is free.
  const std::uint64_t pushed = pushed_.load() + 1;
  ring_[(pushed - 1) % kWindow] = std::move(job);
  pushed_ = pushed;
  // A writer that found nothing to do is woken for a handful of files,
  // not for each one (a wake costs both threads a system call).
  if (idle_ > 0 && pushed - taken_ >= kBatch) WakeWriters();
  Deliver(kWindow - 1);
}

void TWriteBehind::Deliver(std::size_t keep) {
  const std::uint64_t pushed = pushed_.load();
  while (delivered_ != pushed) {
    std::unique_ptr<TWriteJob>& slot = ring_[delivered_ % kWindow];
    if (!slot->finished) {
      if (pushed - delivered_ <= keep) return;
      // The writers may be waiting for a handful.
      if (idle_ > 0 && taken_ < pushed) WakeWriters();
      waiting_ = true;
      for (;;) {
        const std::uint32_t bell = doneBell_;
        if (slot->finished) break;
        doneBell_.wait(bell);
      }
      waiting_ = false;
    }
    const std::unique_ptr<TWriteJob> job = std::move(slot);
    ++delivered_;
    targets_.erase(job->target);
    done_(*job);
  }
}

void TWriteBehind::Work() {
  for (;;) {
    std::uint64_t taken = taken_;
    if (taken < pushed_) {
      if (!taken_.compare_exchange_weak(taken, taken + 1)) continue;
      // Its slot is not used again before the caller took the job out,
      // which it does only once the job is finished.
      TWriteJob& job = *ring_[taken % kWindow];
      Write(job);
      // The job may be gone as soon as it is marked finished.
      job.finished = true;
      if (waiting_) {
        ++doneBell_;
        doneBell_.notify_one();
      }
      continue;
    }
    if (stop_) return;
    const std::uint32_t bell = workBell_;
    ++idle_;
    if (taken_ == pushed_ && !stop_) workBell_.wait(bell);
    --idle_;
  }
}

void TWriteBehind::Write(TWriteJob& job) const {
  job.created = job.file.Create(job.target, job.place, folders_, job.readOnly, newMode_);
  if (job.created && job.file.Write(job.data.data(), job.data.size()))
    job.committed = job.file.CommitAt(job.unixTime, job.mayReplace);
  std::vector<std::uint8_t>().swap(job.data);
  job.place.dir.reset();
}

}  // namespace vx
