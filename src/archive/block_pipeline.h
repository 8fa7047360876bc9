#pragma once
// Encoding data blocks on worker threads while the caller reads and writes.
// Every block is independent (its own zlib stream, Blowfish ECB), so the
// workers may pack and encipher them in any order; the caller takes them back
// strictly in the order it submitted them, which keeps the archive bytes the
// same as encoding one block after the other.  A job may also be a marker
// that no worker touches: it comes back in its place in the order, so that
// the caller can act between two blocks (a file's end).
//
// Memory stays bounded: a fixed ring of jobs, each with room for one raw and
// one encoded block.  With no workers, Submit encodes at once on the
// caller's thread: the one-thread path, with the same code and codec.
//
// The hand-over is cheap for tiny files: the caller learns that a job is
// done from the job's own flag, without the lock; a worker takes a run of
// jobs at a time; sleeping workers are woken only once a few jobs wait (one
// woken worker wakes the next), and a worker wakes the caller only when the
// caller waits.
//
// The same ring decodes stored blocks for a reader (TBlockEncoding::decode).
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/block_codec.h"

namespace vx {

struct TBlockEncoding {
  int level = 0;        // 0 none, 1 quick, 9 maximal
  std::string key;      // empty: no encryption
  bool verify = false;  // decode each block again and compare it with its raw bytes
  // The other way round: each job's `encoded` holds a block as stored (its
  // header and stored bytes, encodedLength in all) and is decoded into
  // `raw` (rawLength); a block that does not decode leaves its error.
  bool decode = false;
};

class TBlockPipeline {
 public:
  struct TJob {
    std::vector<std::uint8_t> raw = std::vector<std::uint8_t>(kBlockSize);
    std::size_t rawLength = 0;
    std::vector<std::uint8_t> encoded = std::vector<std::uint8_t>(kMaxEncodedBlock);
    std::size_t encodedLength = 0;
    bool matches = true;                    // with verify: the block decodes to its raw bytes
    bool marker = false;                    // not encoded; only holds its place in the order
    std::uint64_t tag = 0;                  // the caller's own
    std::exception_ptr error;               // raised while encoding
    std::atomic<bool> done{false};          // encoded (or a marker): the caller may take it
    std::uint64_t seq = ~std::uint64_t{0};  // place in the order (guarded by the lock)
  };

  // workers 0: every job is encoded inside Submit.  depth: how many jobs can
  // be under way at once.  Workers the system does not give are done
  // without (see Workers()); with none, it is as with workers 0.
  TBlockPipeline(const TBlockEncoding& encoding, int workers, std::size_t depth);
  ~TBlockPipeline();  // abandons the jobs under way and ends the workers
  TBlockPipeline(const TBlockPipeline&) = delete;
  TBlockPipeline& operator=(const TBlockPipeline&) = delete;

  // The job to fill next, or nullptr when every job is under way (take the
  // oldest back first).
  TJob* Free();
  // Hands the job from Free() on, filled (rawLength 1..32768) or as a
  // marker; a marker needs a free job too.  Throws std::logic_error when
  // every job is under way.
  void Submit(bool marker, std::uint64_t tag);
  // Whether any submitted job has not been taken back.
  bool Pending() const { return submitted_ != released_; }
  // The oldest job not taken back, once it is done: waits for it when
  // `wait`, else returns nullptr when it is not done yet.  Release it after
  // use.  Its error, when set, is the caller's to raise.
  TJob* Oldest(bool wait);
  void Release();

  // The worker threads started: fewer than asked for when the system
  // refused some.
  int Workers() const { return static_cast<int>(threads_.size()); }

 private:
  struct TCoder;
  void Work(TCoder& coder);
  void Encode(TCoder& coder, TJob& job) const;
  void Finished(TJob& job, std::uint64_t seq);
  void WaitFor(std::uint64_t seq);
  static void Decode(TCoder& coder, TJob& job);

  TBlockEncoding encoding_;
  std::vector<TJob> jobs_;
  std::uint64_t submitted_ = 0;  // written by the caller under the lock
  std::uint64_t taken_ = 0;      // by workers (under the lock)
  std::uint64_t released_ = 0;   // the caller's own
  int idle_ = 0;                 // workers asleep (under the lock)
  // Sleeping workers are woken once this many jobs wait, or when the caller
  // is about to wait: one wake-up per tiny file would cost more than the
  // packing.
  static constexpr std::uint64_t kWakeBatch = 16;
  // A worker takes at most this many jobs at once, fewer when less waits
  // (the others get their share).
  static constexpr std::uint64_t kMostTaken = 8;
  std::size_t workers_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> callerWaits_{false};
  std::atomic<std::uint64_t> waitedFor_{0};  // the job the caller waits for
  // When the caller must wait, it waits for a run of this many jobs.
  static constexpr std::uint64_t kRoomBatch = 8;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::vector<std::unique_ptr<TCoder>> coders_;  // one per worker, the last for Submit
  std::vector<std::thread> threads_;
};

}  // namespace vx
