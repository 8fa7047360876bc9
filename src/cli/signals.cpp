#include "cli/signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

#include "cli/texts.h"

namespace vx {
namespace {

// The code of a run stopped by its caller (EVX_UserAbortion).
constexpr int kStoppedCode = 12;

std::atomic<bool> cancelFlag{false};
std::atomic<bool> stopExits{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  if (!cancelFlag.exchange(true)) {
    // Best effort; nothing to do when stderr is gone.
    ssize_t ignored =
        ::write(STDERR_FILENO, txt::cli::kInterrupting, sizeof txt::cli::kInterrupting - 1);
    (void)ignored;
  }
  if (stopExits.load()) ::_exit(kStoppedCode);
}

}  // namespace

void InstallSignalHandling() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  // Over a file-size limit a write fails with EFBIG, which the run reports
  // (and cleans up after) like any other write error, instead of dying.
  sigaction(SIGXFSZ, &ignore, nullptr);
  sigaction(SIGPIPE, &ignore, nullptr);

  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = SA_RESTART;  // file I/O goes on; the engine stops at its next event
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGHUP, &stop, nullptr);
}

void SetStopSignalExits(bool exits) { stopExits.store(exits); }
bool CancelRequested() { return cancelFlag.load(); }
void RequestCancel() { cancelFlag.store(true); }
void ClearCancel() { cancelFlag.store(false); }

}  // namespace vx
