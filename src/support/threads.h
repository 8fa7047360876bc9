#pragma once
// Starting helper threads.  A system that has no thread to give (a limit on
// processes or on memory) makes std::thread's constructor throw; left alone
// that ends the program.  Every helper thread is started here instead, and
// where none can be had the caller goes on with fewer helpers, or none: the
// work then runs on the caller's own thread.
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace vx {

// Starts fn on a new thread, added at the end of threads; false (threads
// left as they were) when the system refuses one.
bool StartThread(std::vector<std::thread>& threads, std::function<void()> fn);

// How many starts the calling thread has had refused so far.  A run
// compares the count before and after its setup to learn that it goes on
// with fewer threads than it wanted.
std::uint64_t RefusedThreadStarts();

// For tests: after `allowed` more starts every start is refused, as the
// system refuses it; a negative value lifts the limit (the default).
void LimitThreadStarts(int allowed);

}  // namespace vx
