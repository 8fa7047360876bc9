#pragma once
// Signals: the command line never dies by one.  SIGPIPE is ignored (a closed
// pipe becomes a write error, which RunCli turns into a quiet exit 141);
// SIGINT, SIGTERM and SIGHUP ask the running operation to stop at its next
// question or progress report.
namespace vx {

void InstallSignalHandling();
// While set, a stop signal ends the process at once with the cancelled
// code (12) instead of asking the operation to stop: for output written
// after the operation, where a write blocked on a full pipe would never
// come back to ask.
void SetStopSignalExits(bool exits);
bool CancelRequested();
void RequestCancel();  // what the handlers do; also for tests
void ClearCancel();

}  // namespace vx
