#pragma once
// The questions an operation asks (next medium, a file that cannot be opened
// or read): on the terminal when a person is there, otherwise answered from
// the presets without ever waiting or looping.
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "cli/texts.h"
#include "platform/hooks.h"
#include "support/reaction.h"

namespace vx {

// One question with lettered choices on a text terminal.
class TPrompt {
 public:
  struct TChoice {
    std::string label;    // shown, e.g. "[O]K"
    std::string letters;  // lower-case letters that pick it, e.g. "o"
  };
  // readLine: the next line of the person's answer; false at the end of
  // input or when the run is being cancelled.
  using TReadLine = std::function<bool(std::string&)>;
  TPrompt(TReadLine readLine, std::ostream& out) : readLine_(std::move(readLine)), out_(out) {}
  // Shows text and the choices and reads lines until one picks a choice;
  // returns its index, or -1 when the input ends or fails (a signal too).
  int Ask(const std::string& text, const std::vector<TChoice>& choices);

 private:
  TReadLine readLine_;
  std::ostream& out_;
};

// A line read from a file descriptor (the terminal), waiting in short steps so
// that a stop signal ends the wait; false at the end of input or on a stop.
bool ReadLineFromFd(int fd, std::string& line);

// A password: the terminal's echo is switched off, then the prompt shown on
// out and the line read (its line break still shows), then the echo restored.
// The prompt comes after the switch, so that nothing typed at it is echoed.
bool ReadSecretFromFd(int fd, std::ostream& out, const std::string& prompt, std::string& line);

// The engine's question box (the next-medium question) asked on the terminal:
// OK or Storno.  The end of input counts as Storno, so that a question can
// never repeat without an answer.
TBoxAnswer AskBoxOnTerminal(TPrompt& prompt, const std::string& text);

// A file that cannot be opened ("nemôžem otvoriť súbor,") or read ("Nedá sa
// čítať zo súboru,"): Prerušiť / Opakovať / Ignorovať (a failed read offers no
// retry: Prerušiť / Ignorovať).  End of input: abort.
TReaction AskFileOnTerminal(TPrompt& prompt, const std::string& question,
                            const std::string& fileName);
using txt::cli::kCantOpenQuestion;
using txt::cli::kCantReadQuestion;

// Without a person, a file that cannot be opened is tried again a bounded
// number of times, with a pause between tries, and is then skipped (counted
// and logged by the engine as not backed up, its archive attribute kept, so
// the next incremental run takes it).  One counter per file name.
class TBoundedOpenRetry {
 public:
  TBoundedOpenRetry(int maxRetries, std::function<void()> pause,
                    std::function<void(const std::string&)> onGiveUp)
      : maxRetries_(maxRetries), pause_(std::move(pause)), onGiveUp_(std::move(onGiveUp)) {}
  TReaction Answer(const std::string& fileName);

 private:
  int maxRetries_;
  std::function<void()> pause_;
  std::function<void(const std::string&)> onGiveUp_;
  std::map<std::string, int> tries_;
};

}  // namespace vx
