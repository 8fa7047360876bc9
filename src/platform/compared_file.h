#pragma once
// A file on disk read for a byte comparison: only a regular file is opened
// (read-only, never waiting on a FIFO), and its size is taken at the open.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fd.h"

namespace vx {

class TComparedFile {
 public:
  // Throws std::ios_base::failure when the opened file's size cannot be read.
  explicit TComparedFile(const std::string& path);
  bool IsOpen() const { return fd_.IsOpen(); }
  // Why the open failed: its errno, 0 when the file was opened or is no
  // regular file.
  int OpenError() const { return openError_; }
  std::int64_t Size() const { return size_; }
  // Reads up to count bytes, fewer only at the end of the file; throws
  // std::ios_base::failure on an I/O error.
  std::size_t Read(std::uint8_t* data, std::size_t count);

 private:
  TFd fd_;
  std::int64_t size_ = 0;
  int openError_ = 0;
};

}  // namespace vx
