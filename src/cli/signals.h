#pragma once
// Signals: the command line never dies by one.  SIGPIPE is ignored (a closed
// pipe becomes a write error); SIGINT, SIGTERM and SIGHUP ask the running
// operation to stop at its next question or progress report.
namespace vx {

void InstallSignalHandling();
bool CancelRequested();
void RequestCancel();  // what the handlers do; also for tests
void ClearCancel();

}  // namespace vx
