#pragma once
// Temporary files, created securely (O_EXCL, never through a link) in the
// temporary folder and removed after use.
#include <string>

#include "platform/fd.h"

namespace vx {

// TMP, TEMP, TMPDIR, then /tmp; created with missing parents; ends in "/".
std::string GetTempFolder();

class TTempFile {
 public:
  // Creates a new empty private file (mode 0600) named after `stem` in
  // `folder` (GetTempFolder() when empty).  Throws std::system_error.
  explicit TTempFile(const std::string& stem, const std::string& folder = "");
  ~TTempFile();  // removes the file
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_.Get(); }  // open read/write
  void CloseFd();                       // closes the descriptor, keeps the file
  void Keep() { keep_ = true; }         // do not remove on destruction

 private:
  std::string path_;
  TFd fd_;
  bool keep_ = false;
};

}  // namespace vx
