#include "cli/progress.h"

#include <cmath>
#include <cstdio>

#include "cli/commands.h"
#include "cli/texts.h"
#include "support/utils.h"

namespace vx {
namespace {

std::string Size(std::int64_t bytes) {
  std::string s = FormatSize64(bytes);
  std::size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? s : s.substr(b);
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::size_t Columns(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += IsContinuation(c) ? 0 : 1;
  return n;
}

}  // namespace

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0.0)) return "--:--:--";
  auto total = static_cast<long long>(std::llround(seconds));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", total / 3600, (total / 60) % 60,
                total % 60);
  return buf;
}

std::string CutLeftToColumns(const std::string& text, std::size_t columns) {
  if (Columns(text) <= columns) return text;
  if (columns == 0) return "";
  // Keep the last columns-1 characters and put the ellipsis before them.
  std::size_t keep = columns - 1;
  std::size_t pos = text.size();
  std::size_t kept = 0;
  while (pos > 0 && kept < keep) {
    --pos;
    while (pos > 0 && IsContinuation(static_cast<unsigned char>(text[pos]))) --pos;
    ++kept;
  }
  return "…" + text.substr(pos);
}

std::string FormatProgressLine(const TProgressState& s, std::size_t width) {
  char pct[16];
  std::snprintf(pct, sizeof pct, "%3d%%", s.percent < 0 ? 0 : (s.percent > 100 ? 100 : s.percent));
  std::string line = pct;
  line += "  " + Size(s.done) + txt::cli::kDone;
  if (s.total > 0) {
    std::int64_t left = s.total - s.done;
    if (left < 0 || s.percent >= 100) left = 0;
    line += "  " + Size(left) + txt::cli::kLeft;
  }
  double speed = s.elapsedSeconds > 0.0 ? static_cast<double>(s.done) / s.elapsedSeconds : 0.0;
  line += "  " + Size(static_cast<std::int64_t>(std::llround(speed))) + "/s";
  double eta = -1.0;
  if (s.percent >= 100 || (s.total > 0 && s.done >= s.total)) {
    eta = 0.0;
  } else if (s.total > 0 && s.done * 100 >= s.total && s.elapsedSeconds > 0.0) {
    // From 1 % on; before that the estimate says nothing.
    eta = s.elapsedSeconds * static_cast<double>(s.total - s.done) / static_cast<double>(s.done);
  }
  line += txt::cli::kStillToGo + FormatDuration(eta);

  std::size_t used = Columns(line);
  if (!s.currentFile.empty() && used + 2 < width) {
    line += "  " + CutLeftToColumns(EscapeControls(s.currentFile, false), width - used - 2);
  }
  if (Columns(line) > width) {
    // Too narrow even for the numbers: keep what fits from the left.
    std::string cut;
    std::size_t n = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      if (!IsContinuation(c) && ++n > width) break;
      cut += line[i];
    }
    line = cut;
  }
  return line;
}

TProgressLine::TProgressLine(std::ostream& out, TCount count, std::size_t width,
                             std::function<std::uint64_t()> clockMs,
                             std::function<std::int64_t()> totalHint)
    : out_(out),
      count_(count),
      width_(width < 20 ? 20 : width),
      clockMs_(std::move(clockMs)),
      totalHint_(std::move(totalHint)) {
  start_ = clockMs_();
}

std::int64_t TProgressLine::Total() {
  if (last_.TotalBytes > 0) return last_.TotalBytes;
  if (!haveHint_) {
    hint_ = totalHint_ ? totalHint_() : 0;
    haveHint_ = true;
  }
  return hint_;
}

void TProgressLine::Restart() { start_ = clockMs_(); }

void TProgressLine::Statistic(const TExtBackupStatistic& stat) {
  last_ = stat;
  doneBase_ = count_ == TCount::BytesRead ? stat.BytesRead : stat.BytesWritten;
  state_.done = doneBase_;
  state_.total = Total();
  state_.percent = stat.PercentDone;
  state_.currentFile = stat.CurrentFile;
  Draw(stat.PercentDone >= 100);
}

void TProgressLine::Block(const std::string& name, std::int64_t done, std::int64_t /*total*/) {
  state_.done = doneBase_ + (done > 0 ? done : 0);
  state_.total = Total();
  if (state_.total > 0) {
    auto pct = static_cast<int>(state_.done * 100 / state_.total);
    state_.percent = pct > 100 ? 100 : pct;
  }
  state_.currentFile = name;
  Draw(false);
}

void TProgressLine::Draw(bool force) {
  std::uint64_t now = clockMs_();
  if (!force && drawn_ && now - lastDraw_ < 200) return;
  lastDraw_ = now;
  state_.elapsedSeconds = static_cast<double>(now - start_) / 1000.0;
  out_ << "\r\033[K" << FormatProgressLine(state_, width_ - 1) << std::flush;
  drawn_ = true;
}

void TProgressLine::Finish() {
  if (drawn_) out_ << "\r\033[K" << std::flush;
  drawn_ = false;
}

}  // namespace vx
