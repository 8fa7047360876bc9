// Starting helper threads.
#include "support/threads.h"

#include <atomic>
#include <cerrno>
#include <system_error>
#include <utility>

namespace vx {

namespace {

std::atomic<int> allowedStarts{-1};
thread_local std::uint64_t refusedStarts = 0;

// Whether a start may go ahead under the limit; counts it down.
bool WithinLimit() {
  int allowed = allowedStarts.load();
  while (allowed > 0 && !allowedStarts.compare_exchange_weak(allowed, allowed - 1)) {
  }
  return allowed != 0;
}

}  // namespace

bool StartThread(std::vector<std::thread>& threads, std::function<void()> fn) {
  try {
    // What the constructor throws when the system has no thread to give.
    if (!WithinLimit()) throw std::system_error(EAGAIN, std::generic_category());
    threads.emplace_back(std::move(fn));
    return true;
  } catch (const std::system_error&) {
    ++refusedStarts;
    return false;
  }
}

std::uint64_t RefusedThreadStarts() { return refusedStarts; }

void LimitThreadStarts(int allowed) { allowedStarts = allowed < 0 ? -1 : allowed; }

}  // namespace vx
