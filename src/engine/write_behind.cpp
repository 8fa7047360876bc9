// The writer thread of small restored files.
#include "engine/write_behind.h"

#include <utility>

namespace vx {

TWriteBehind::TWriteBehind(TTargetFolders& folders, unsigned newMode, TDone done)
    : folders_(folders), newMode_(newMode), done_(std::move(done)), thread_([this] { Work(); }) {}

TWriteBehind::~TWriteBehind() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_one();
  thread_.join();
}

void TWriteBehind::Push(std::unique_ptr<TWriteJob> job) {
  targets_.insert(job->target);
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    ++pushed_;
    // A writer that found nothing to do is woken for a handful of files,
    // not for each one (a wake costs both threads a system call).
    wake = pushed_ - written_ >= kBatch;
  }
  if (wake) work_.notify_one();
  Deliver(kWindow - 1);
}

void TWriteBehind::Deliver(std::size_t keep) {
  for (;;) {
    std::unique_ptr<TWriteJob> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (written_ == delivered_) {
        if (pushed_ - delivered_ <= keep) return;
        // The writer may be waiting for a handful.
        work_.notify_one();
        finished_.wait(lock, [this] { return written_ > delivered_; });
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
      ++delivered_;
    }
    targets_.erase(job->target);
    done_(*job);
  }
}

void TWriteBehind::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return stop_ || written_ < pushed_; });
    if (written_ == pushed_) return;
    // Jobs stay where they are until delivered, and only finished ones are.
    TWriteJob& job = *jobs_[static_cast<std::size_t>(written_ - delivered_)];
    lock.unlock();
    Write(job);
    lock.lock();
    ++written_;
    finished_.notify_one();
  }
}

void TWriteBehind::Write(TWriteJob& job) const {
  job.created = job.file.Create(job.target, folders_, job.readOnly, newMode_);
  if (job.created && job.file.Write(job.data.data(), job.data.size()))
    job.committed = job.file.Commit(job.time, job.mayReplace);
  std::vector<std::uint8_t>().swap(job.data);
}

}  // namespace vx
