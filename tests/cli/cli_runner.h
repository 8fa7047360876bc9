#pragma once
// Runs the vaultix-cli binary as a child process for the tests: arguments,
// extra environment, standard input from a file (or a pseudo-terminal), and
// captured standard output and error.  A child still running after the guard
// time is killed, so that a run that waits for ever fails instead of hanging.
#include <string>
#include <utility>
#include <vector>

namespace vxtest {

struct TCliRun {
  bool exited = false;  // ended by exit() (not by a signal, not killed)
  int exitCode = -1;
  int signal = 0;  // the signal that ended it, when !exited
  bool killedByGuard = false;
  std::string out;
  std::string err;
};

struct TCliCall {
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> env;  // added to the environment
  std::string stdinPath = "/dev/null";
  bool closeStdoutReader = false;  // stdout is a pipe nobody reads (closed at once)
  // When not 0: this signal is sent as soon as the first output arrives on
  // stdout, which is read no further (a small pipe that stays open, so
  // that the program's next writes wait).
  int signalAtFirstOutput = 0;
  std::string runAsUser;  // drop to this user (setpriv), when not empty
  int guardSeconds = 60;
  long long fileSizeLimit = 0;  // RLIMIT_FSIZE in bytes for the child, when > 0
};

std::string CliBinary();

// An output's lines, and a line's TAB-separated fields.
std::vector<std::string> Lines(const std::string& text);
std::vector<std::string> Fields(const std::string& line);
TCliRun RunCli(const TCliCall& call);

// Runs with standard input and standard error on a pseudo-terminal; every
// time the terminal output contains the next trigger text, the matching
// answer is typed.  The terminal output lands in err.
TCliRun RunCliOnTerminal(const TCliCall& call,
                         const std::vector<std::pair<std::string, std::string>>& answers);

}  // namespace vxtest
