#include "cli/prompts.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "cli/signals.h"
#include "support/strings.h"

namespace vx {

int TPrompt::Ask(const std::string& text, const std::vector<TChoice>& choices) {
  std::string menu;
  for (const auto& c : choices) menu += (menu.empty() ? "" : " / ") + c.label;
  out_ << "\n" << text << "\n";
  for (;;) {
    out_ << menu << "? " << std::flush;
    std::string line;
    if (!readLine_(line)) {
      out_ << "\n" << std::flush;
      return -1;
    }
    std::string answer = LowerAscii(Trim(line, " \t\r"));
    if (answer.empty()) continue;
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (choices[i].letters.find(answer[0]) != std::string::npos) {
        return static_cast<int>(i);
      }
    }
  }
}

bool ReadLineFromFd(int fd, std::string& line) {
  line.clear();
  for (;;) {
    if (CancelRequested()) return false;
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, 200);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line.empty();
    if (c == '\n') return true;
    line += c;
  }
}

bool ReadSecretFromFd(int fd, std::ostream& out, const std::string& prompt, std::string& line) {
  termios before{};
  const bool terminal = ::tcgetattr(fd, &before) == 0;
  if (terminal) {
    termios quiet = before;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSANOW, &quiet);
  }
  out << prompt << std::flush;
  const bool read = ReadLineFromFd(fd, line);
  if (terminal) ::tcsetattr(fd, TCSANOW, &before);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return read;
}

TBoxAnswer AskBoxOnTerminal(TPrompt& prompt, const std::string& text) {
  int i = prompt.Ask(text, {{txt::cli::kChoiceOk, "oy"}, {txt::cli::kChoiceCancel, "sca"}});
  return i == 0 ? TBoxAnswer::Ok : TBoxAnswer::Abort;
}

TReaction AskFileOnTerminal(TPrompt& prompt, const std::string& question,
                            const std::string& fileName) {
  // After a failed read, trying again is not possible: the engine ends the
  // run for any answer but AW_IGNORE, so only the two real choices are offered.
  if (question == kCantReadQuestion) {
    int i = prompt.Ask(question + fileName,
                       {{txt::cli::kChoiceAbort, "pa"}, {txt::cli::kChoiceIgnore, "i"}});
    return i == 1 ? AW_IGNORE : AW_ABORT;
  }
  int i = prompt.Ask(question + fileName, {{txt::cli::kChoiceAbort, "pa"},
                                           {txt::cli::kChoiceRetry, "or"},
                                           {txt::cli::kChoiceIgnore, "i"}});
  switch (i) {
    case 1:
      return AW_RETRY;
    case 2:
      return AW_IGNORE;
    default:
      return AW_ABORT;
  }
}

TReaction TBoundedOpenRetry::Answer(const std::string& fileName) {
  int& tries = tries_[fileName];
  if (tries < maxRetries_) {
    ++tries;
    if (pause_) pause_();
    return AW_RETRY;
  }
  tries_.erase(fileName);
  if (onGiveUp_) onGiveUp_(fileName);
  return AW_IGNORE;
}

}  // namespace vx
