#include "platform/temp_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/paths.h"
#include "platform/texts.h"
#include "support/utils.h"

namespace vx {

std::string GetTempFolder() {
  std::string folder = FirstSetEnv({"TMP", "TEMP", "TMPDIR"});
  if (folder.empty()) folder = "/tmp";
  ForceDirectories(folder);
  return WithTrailingSlash(folder);
}

TTempFile::TTempFile(const std::string& stem, const std::string& folder) {
  const std::string dir = WithTrailingSlash(folder.empty() ? GetTempFolder() : folder);
  // "name.ext" becomes "name-XXXXXX.ext": the random part sits before the
  // extension so that the file still shows what it is.
  std::string base = stem.empty() ? std::string("vaultix") : ExtractFileName(stem);
  std::string ext;
  const auto dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    ext = base.substr(dot);
    base.resize(dot);
  }
  std::string templ = dir + base + "-XXXXXX" + ext;
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  // mkostemps opens with O_CREAT|O_EXCL (never through a link) and mode 0600.
  fd_.Reset(::mkostemps(buf.data(), static_cast<int>(ext.size()), O_CLOEXEC));
  if (!fd_) {
    throw std::system_error(errno, std::generic_category(), txt::platform::kCannotCreateTemp + dir);
  }
  path_ = buf.data();
}

TTempFile::~TTempFile() {
  CloseFd();
  if (!keep_ && !path_.empty()) ::unlink(path_.c_str());
}

void TTempFile::CloseFd() { fd_.Reset(); }

}  // namespace vx
