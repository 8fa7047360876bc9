#pragma once
// The live progress line on the terminal: percentage, bytes done and left,
// speed, time left and the current file, redrawn in place on stderr.
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "archive/archive_stream.h"

namespace vx {

struct TProgressState {
  int percent = 0;
  std::int64_t done = 0;   // bytes processed
  std::int64_t total = 0;  // bytes of the whole operation (0: unknown)
  double elapsedSeconds = 0.0;
  std::string currentFile;
};

// One line of at most `width` columns (UTF-8 characters counted as one column
// each); the file name is shortened from the left when the line is too long.
std::string FormatProgressLine(const TProgressState& state, std::size_t width);

// "hh:mm:ss", hours not wrapped; "--:--:--" for a negative value.
std::string FormatDuration(double seconds);

// Cuts text to at most `columns` UTF-8 characters, keeping its end and
// marking the cut with "…".
std::string CutLeftToColumns(const std::string& text, std::size_t columns);

class TProgressLine {
 public:
  enum class TCount { BytesRead, BytesWritten };
  // clockMs: a monotonic millisecond clock; totalHint: asked once when the
  // statistics do not carry a total.
  TProgressLine(std::ostream& out, TCount count, std::size_t width,
                std::function<std::uint64_t()> clockMs, std::function<std::int64_t()> totalHint);

  void Restart();  // timing starts anew (after the scan of a backup)
  void Statistic(const TExtBackupStatistic& stat);  // after each file
  void Block(const std::string& name, std::int64_t done, std::int64_t total);
  void Finish();  // clears the line when one was drawn

 private:
  void Draw(bool force);
  std::int64_t Total();

  std::ostream& out_;
  TCount count_;
  std::size_t width_;
  std::function<std::uint64_t()> clockMs_;
  std::function<std::int64_t()> totalHint_;
  std::uint64_t start_ = 0;
  std::uint64_t lastDraw_ = 0;
  bool drawn_ = false;
  bool haveHint_ = false;
  std::int64_t hint_ = 0;
  TExtBackupStatistic last_;
  std::int64_t doneBase_ = 0;  // bytes done at the last statistics event
  TProgressState state_;
};

}  // namespace vx
