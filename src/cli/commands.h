#pragma once
// One run of vaultix-cli: parse, configure the engine, answer its questions,
// run the operation once, print its output and return the exit code.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "archive/format.h"
#include "cli/prompts.h"

namespace vx {

// Exit code of a malformed command line (usage on stderr).
inline constexpr int kExitUsage = 64;

struct TCliEnvironment {
  std::ostream& out;            // catalog lines, the comment, --help
  std::ostream& err;            // messages, questions, the progress line
  TPrompt::TReadLine readLine;  // answers of the person at the terminal
  bool interactive = false;     // standard input is a terminal
  bool progress = false;        // standard error is a terminal
  std::size_t terminalWidth = 80;
  // Pause between two tries of opening a file when nobody can be asked.
  std::function<void()> retryPause;
  // A password typed at the terminal without echo after the prompt (null:
  // nobody to ask).
  std::function<bool(const std::string& prompt, std::string& secret)> readSecret;
  // Whether `out` is a pipe whose reader has gone (optional): a write that
  // failed for that ends the run quietly with kExitClosedPipe.
  std::function<bool()> outputClosed;
};

// Exit code of a run whose standard output was a pipe closed by its reader
// (as a shell reports a process killed by SIGPIPE: 128 + 13).
inline constexpr int kExitClosedPipe = 141;

int RunCli(const std::vector<std::string>& args, TCliEnvironment& env);

// One line of the catalog: size, checksum (8 hex digits), attributes (hex),
// stored time "yyyy/mm/dd hh:nn:ss", stored path, separated by TABs.  Control
// characters of the path are written as \xNN so that a line stays one line.
std::string FormatCatalogLine(const TDirRecord& record);

// Text from a set (a stored path, a comment) for a line of text: control
// characters and DEL as \xNN, so that nothing of it acts on a terminal and a
// TAB or line break inside a path cannot split its line; with `backslash`
// (the TAB-separated lines) the backslash too, so that the escapes stay
// unambiguous.
std::string EscapeControls(const std::string& path, bool backslash = true);

}  // namespace vx
