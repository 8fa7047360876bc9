#include "support/log_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ios>
#include <system_error>
#include <utility>
#include <vector>

#include "support/path_names.h"
#include "support/texts.h"
#include "support/utils.h"

namespace vx {

namespace {

[[noreturn]] void ThrowIo(const std::string& what, int err = errno) {
  throw std::ios_base::failure(what, std::error_code(err, std::generic_category()));
}

// One line without its break (LF or CR LF); false at the end of the file.
bool ReadLine(std::FILE* f, std::string& line, const std::string& name) {
  char* buf = nullptr;
  std::size_t cap = 0;
  errno = 0;
  const ssize_t n = ::getline(&buf, &cap, f);
  if (n < 0) {
    const int err = errno;
    ::free(buf);
    if (std::ferror(f)) ThrowIo(txt::support::kCannotRead + name, err);
    return false;
  }
  line.assign(buf, static_cast<std::size_t>(n));
  ::free(buf);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void PutLine(std::FILE* f, const std::string& text, const std::string& name) {
  if ((!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) ||
      std::fwrite("\r\n", 1, 2, f) != 2) {
    ThrowIo(txt::support::kCannotWrite + name);
  }
}

// Opens the log for writing: created with mode 0600 when missing (a log names
// private files), emptied unless appending, and refused unless it is a
// regular file: a device or a FIFO would swallow or block the log.
std::FILE* OpenLogForWriting(const std::string& name, bool append) {
  const int fd = ::open(
      name.c_str(),
      O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (append ? O_APPEND : 0), 0600);
  if (fd < 0) ThrowIo(txt::support::kCannotOpen + name);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    ThrowIo(std::string(txt::support::kTheLog) + name + txt::support::kIsNotRegular, EINVAL);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (!append && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    ThrowIo(txt::support::kCannotCreate + name, err);
  }
  std::FILE* f = ::fdopen(fd, append ? "ab" : "wb");
  if (f == nullptr) {
    const int err = errno;
    ::close(fd);
    ThrowIo(txt::support::kCannotOpen + name, err);
  }
  return f;
}

}  // namespace

TLogFile::TLogFile(std::string fileName) : fileName_(std::move(fileName)) {}

TLogFile::~TLogFile() {
  try {
    Close();
  } catch (...) {
    if (copy_) std::fclose(copy_);
    if (log_) std::fclose(log_);
    copy_ = log_ = nullptr;
    // The old lines that could not be put back stay in the copy beside the log.
  }
}

void TLogFile::DropCopy() {
  if (copy_) std::fclose(copy_);
  copy_ = nullptr;
  if (!copyPath_.empty()) ::unlink(copyPath_.c_str());
  copyPath_.clear();
}

void TLogFile::MovePendingLines() {
  std::string line;
  while (ReadLine(copy_, line, copyPath_)) PutLine(log_, line, fileName_);
  DropCopy();
}

void TLogFile::CreateNew() {
  if (state_ == Inserting) DropCopy();  // the pending old lines are given up
  if (log_) {
    std::FILE* old = std::exchange(log_, nullptr);
    state_ = Closed;
    if (std::fclose(old) != 0) ThrowIo(txt::support::kCannotClose + fileName_);
  }
  state_ = Closed;
  log_ = OpenLogForWriting(fileName_, false);
  state_ = CreatedNew;
}

void TLogFile::OpenAppend() {
  switch (state_) {
    case Closed:
      log_ = OpenLogForWriting(fileName_, true);
      state_ = Appending;
      break;
    case CreatedNew:
    case Appending:
      break;
    case Inserting:
      // The log is written sequentially, so after the old lines it stands at
      // its end: exactly where appending goes on.
      MovePendingLines();
      state_ = Appending;
      break;
  }
}

void TLogFile::InsertAt(int lineNo) {
  // A second insertion first finishes the one under way, so that no pending
  // old line is lost.
  if (state_ == Inserting) {
    MovePendingLines();
    state_ = Appending;
  }
  if (log_ && std::fflush(log_) != 0) ThrowIo(txt::support::kCannotWrite + fileName_);

  std::FILE* src = nullptr;
  {
    const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) ThrowIo(txt::support::kCannotRead + fileName_);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (src = ::fdopen(fd, "rb")) == nullptr) {
      ::close(fd);
      ThrowIo(std::string(txt::support::kTheLog) + fileName_ + txt::support::kIsNotRegular, EINVAL);
    }
  }

  // The private copy beside the log: a fresh name, created exclusively, 0600.
  std::string templ = ExtractFilePath(fileName_) + "." + ExtractFileName(fileName_) + ".XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    std::fclose(src);
    ThrowIo(txt::support::kCannotCreateCopy + fileName_, err);
  }
  copyPath_ = buf.data();
  copy_ = ::fdopen(fd, "w+b");
  if (!copy_) {
    const int err = errno;
    ::close(fd);
    std::fclose(src);
    DropCopy();
    ThrowIo(txt::support::kCannotOpenCopy + fileName_, err);
  }

  std::vector<char> block(32768);
  bool ok = true;
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), src);
    if (n > 0 && std::fwrite(block.data(), 1, n, copy_) != n) ok = false;
    if (n < block.size() || !ok) break;
  }
  ok = ok && !std::ferror(src) && std::fflush(copy_) == 0;
  std::fclose(src);
  if (!ok) {
    DropCopy();
    ThrowIo(txt::support::kCannotCopy + fileName_);
  }
  std::rewind(copy_);

  if (log_) {
    std::FILE* old = std::exchange(log_, nullptr);
    std::fclose(old);  // flushed above
  }
  try {
    log_ = OpenLogForWriting(fileName_, false);
  } catch (...) {
    DropCopy();  // the log was not truncated: nothing is lost
    state_ = Closed;
    throw;
  }
  state_ = Inserting;
  std::string line;
  for (int i = 1; i < lineNo && ReadLine(copy_, line, copyPath_); ++i) {
    PutLine(log_, line, fileName_);
  }
}

void TLogFile::WriteLine(const std::string& text) {
  if (state_ == Closed || !log_) return;
  PutLine(log_, text, fileName_);
}

int TLogFile::LineCount() const {
  if (state_ == Closed) return -1;
  return CountTextLines(fileName_);
}

void TLogFile::Close() {
  if (state_ == Inserting) MovePendingLines();
  state_ = Closed;
  if (log_) {
    std::FILE* old = std::exchange(log_, nullptr);
    if (std::fclose(old) != 0) ThrowIo(txt::support::kCannotClose + fileName_);
  }
}

}  // namespace vx
