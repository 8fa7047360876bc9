#include "archive/block_pipeline.h"

#include <cstring>
#include <stdexcept>

#include "archive/errors.h"

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
    : encoding_(encoding), jobs_(depth < 2 ? 2 : depth) {
  const auto n = static_cast<std::size_t>(workers < 0 ? 0 : workers);
  for (std::size_t i = 0; i <= n; ++i) coders_.push_back(std::make_unique<TCoder>(encoding_.key));
  threads_.reserve(n);
  for (std::size_t i = 0; i < n; ++i) threads_.emplace_back([this, i] { Work(*coders_[i]); });
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
  const bool inline_ = threads_.empty() || marker;
  if (inline_ && !marker) Encode(*coders_.back(), job);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job.marker = marker;
    job.seq = submitted_;
    job.done = inline_;
    ++submitted_;
  }
  // Sleeping workers are woken for a few jobs at a time (or when the caller
  // is about to wait, see Oldest): one wake-up per tiny file would cost more
  // than packing it.
  if (!inline_ && submitted_ - handedOut_ >= kWakeBatch) Wake();
}

void TBlockPipeline::Wake() {
  handedOut_ = submitted_;
  work_.notify_all();
}

TBlockPipeline::TJob* TBlockPipeline::Oldest(bool wait) {
  if (!Pending()) return nullptr;
  TJob& job = jobs_[released_ % jobs_.size()];
  std::unique_lock<std::mutex> lock(mutex_);
  if (!job.done) {
    if (!wait) return nullptr;
    if (handedOut_ != submitted_) {
      lock.unlock();
      Wake();
      lock.lock();
    }
    done_.wait(lock, [&job] { return job.done; });
  }
  return &job;
}

void TBlockPipeline::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  jobs_[released_ % jobs_.size()].done = false;
  ++released_;
}

// Workers take the submitted jobs in order (markers are passed over: they
// are done already) and encode them outside the lock.
void TBlockPipeline::Work(TCoder& coder) {
  for (;;) {
    TJob* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        work_.wait(lock, [this] { return stop_ || taken_ < submitted_; });
        if (stop_) return;
        const std::uint64_t seq = taken_++;
        job = &jobs_[seq % jobs_.size()];
        // A marker is done as submitted, and its place may already hold a
        // later job that this number must not take.
        if (job->seq == seq && !job->marker) break;
      }
    }
    Encode(coder, *job);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->done = true;
    }
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
