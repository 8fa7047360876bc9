// A file on disk read for a byte comparison.
#include "platform/compared_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <ios>
#include <system_error>

namespace vx {

namespace {

[[noreturn]] void Fail(int err) {
  throw std::ios_base::failure("I/O error while comparing files",
                               std::error_code(err, std::generic_category()));
}

}  // namespace

TComparedFile::TComparedFile(const std::string& path) {
  TOpenResult opened = OpenRegularForReading(path);
  if (opened.status == TOpenStatus::kOpenFailed) openError_ = opened.error;
  if (opened.status != TOpenStatus::kOpened) return;
  fd_ = std::move(opened.fd);
  // The size the open's own look found.
  size_ = opened.info.st_size;
}

std::size_t TComparedFile::Read(std::uint8_t* data, std::size_t count) {
  const TIoResult r = ReadAll(fd_.Get(), data, count);
  if (r.Failed()) Fail(r.error);
  return r.done;
}

}  // namespace vx
