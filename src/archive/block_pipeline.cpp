#include "archive/block_pipeline.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "archive/errors.h"
#include "support/threads.h"

namespace vx {

// What one thread needs to encode: its own codec (work buffers, compressor
// states) and its own cipher (the cipher object keeps its input and output
// between calls).
struct TBlockPipeline::TCoder {
  TBlockCodec codec;
  std::unique_ptr<TBlowFish> cipher;

  explicit TCoder(const std::string& key) {
    if (key.empty()) return;
    cipher = std::make_unique<TBlowFish>();
    cipher->SetKey(key);
  }
};

TBlockPipeline::TBlockPipeline(const TBlockEncoding& encoding, int workers, std::size_t depth)
    : encoding_(encoding),
      jobs_(depth < 2 ? 2 : depth),
      workers_(static_cast<std::size_t>(workers < 0 ? 0 : workers)) {
  for (std::size_t i = 0; i <= workers_; ++i) {
    coders_.push_back(std::make_unique<TCoder>(encoding_.key));
  }
  threads_.reserve(workers_);
  // Where the system gives fewer threads, the ones it gave do the work; with
  // none, Submit encodes every job itself.
  std::size_t started = 0;
  while (started < workers_ && StartThread(threads_, [this, started] { Work(*coders_[started]); }))
    ++started;
  const std::lock_guard<std::mutex> lock(mutex_);
  workers_ = started;
}

TBlockPipeline::~TBlockPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& t : threads_) t.join();
}

TBlockPipeline::TJob* TBlockPipeline::Free() {
  if (submitted_ - released_ >= jobs_.size()) return nullptr;
  return &jobs_[submitted_ % jobs_.size()];
}

void TBlockPipeline::Submit(bool marker, std::uint64_t tag) {
  // The job to submit is the one Free() gives: with every job under way it
  // would be the oldest, still to be taken back.
  if (Free() == nullptr) throw std::logic_error("TBlockPipeline::Submit: no free job");
  TJob& job = jobs_[submitted_ % jobs_.size()];
  job.tag = tag;
  job.error = nullptr;
  job.matches = true;
  job.encodedLength = 0;
  const bool inline_ = workers_ == 0 || marker;
  if (inline_ && !marker) Encode(*coders_.back(), job);
  bool wake = false;
  {
    // A worker may still look at this job's place for an older number (a
    // marker taken back before any worker passed it): its number and kind
    // change under the lock only.
    std::lock_guard<std::mutex> lock(mutex_);
    job.marker = marker;
    job.seq = submitted_;
    if (inline_) job.done.store(true, std::memory_order_relaxed);
    ++submitted_;
    wake = !inline_ && idle_ > 0 && submitted_ - taken_ >= kWakeBatch;
  }
  if (wake) work_.notify_one();
}

TBlockPipeline::TJob* TBlockPipeline::Oldest(bool wait) {
  if (!Pending()) return nullptr;
  TJob& job = jobs_[released_ % jobs_.size()];
  if (job.done.load(std::memory_order_acquire)) return &job;
  if (!wait) return nullptr;
  // One wake-up should free a run of jobs, not one: the caller waits for
  // the last job not done among the next few, then for the oldest if it is
  // still not done (workers take the jobs in order, so it seldom is not).
  const std::uint64_t last = std::min(submitted_, released_ + kRoomBatch) - 1;
  std::uint64_t target = released_;
  for (std::uint64_t seq = last; seq > released_; --seq) {
    if (!jobs_[seq % jobs_.size()].done.load(std::memory_order_acquire)) {
      target = seq;
      break;
    }
  }
  WaitFor(target);
  if (target != released_) WaitFor(released_);
  return &job;
}

// Waits until the job with that number is done; the worker that finishes it
// wakes the caller.
void TBlockPipeline::WaitFor(std::uint64_t seq) {
  TJob& job = jobs_[seq % jobs_.size()];
  std::unique_lock<std::mutex> lock(mutex_);
  // Jobs left below the wake-up batch would wait for ever.
  if (idle_ > 0 && taken_ < submitted_) work_.notify_all();
  waitedFor_.store(seq);
  callerWaits_.store(true);
  done_.wait(lock, [&job] { return job.done.load(); });
  callerWaits_.store(false, std::memory_order_relaxed);
}

void TBlockPipeline::Release() {
  jobs_[released_ % jobs_.size()].done.store(false, std::memory_order_relaxed);
  ++released_;
}

// Workers take the submitted jobs in order, a run at a time (markers are
// passed over: they are done already), and encode them outside the lock.
void TBlockPipeline::Work(TCoder& coder) {
  TJob* mine[kMostTaken];
  std::uint64_t seqs[kMostTaken];
  for (;;) {
    std::size_t count = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (!stop_ && taken_ == submitted_) {
        ++idle_;
        work_.wait(lock);
        --idle_;
      }
      if (stop_) return;
      const std::uint64_t share = (submitted_ - taken_) / workers_;
      const std::uint64_t n = share < 1 ? 1 : share > kMostTaken ? kMostTaken : share;
      for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint64_t seq = taken_++;
        TJob* job = &jobs_[seq % jobs_.size()];
        // A marker is done as submitted, and its place may already hold a
        // later job that this number must not take.
        if (job->seq == seq && !job->marker) {
          seqs[count] = seq;
          mine[count++] = job;
        }
      }
      // Enough left for another sleeper: it is woken from here, not by the
      // caller.
      if (idle_ > 0 && submitted_ - taken_ >= kWakeBatch) work_.notify_one();
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (stop_.load(std::memory_order_relaxed)) return;  // abandoned
      Encode(coder, *mine[i]);
      Finished(*mine[i], seqs[i]);
    }
  }
}

// Marks a job done; the caller is woken only when it waits.  With the flag
// and the waiting in this order on both sides (the caller sets its flag,
// then looks at the job's), no wake-up is lost.
void TBlockPipeline::Finished(TJob& job, std::uint64_t seq) {
  job.done.store(true);
  if (callerWaits_.load() && waitedFor_.load() == seq) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_.notify_one();
  }
}

void TBlockPipeline::Encode(TCoder& coder, TJob& job) const {
  if (encoding_.decode) {
    Decode(coder, job);
    return;
  }
  try {
    TBlockHeader header;
    job.encodedLength = coder.codec.EncodeInto(job.raw.data(), job.rawLength, encoding_.level,
                                               coder.cipher.get(), job.encoded.data(), &header);
    if (!encoding_.verify) return;
    // Decode what is to be stored and compare it with the bytes read.
    try {
      const std::uint8_t* back =
          coder.codec.Decode(header, job.encoded.data() + kBlockHeaderSize,
                             job.encodedLength - kBlockHeaderSize, coder.cipher.get());
      job.matches = header.rawLength == static_cast<std::int32_t>(job.rawLength) &&
                    std::memcmp(back, job.raw.data(), job.rawLength) == 0;
    } catch (const EVX_ZipError&) {
      job.matches = false;
    }
  } catch (...) {
    job.error = std::current_exception();
  }
}

void TBlockPipeline::Decode(TCoder& coder, TJob& job) {
  try {
    const TBlockHeader header = DecodeBlockHeader(job.encoded.data());
    const std::uint8_t* raw =
        coder.codec.Decode(header, job.encoded.data() + kBlockHeaderSize,
                           job.encodedLength - kBlockHeaderSize, coder.cipher.get());
    job.rawLength = static_cast<std::size_t>(header.rawLength);
    std::memcpy(job.raw.data(), raw, job.rawLength);
  } catch (...) {
    job.error = std::current_exception();
  }
}

}  // namespace vx
