#pragma once
// The targets whose parser reads a file get the input written to one private
// file, created once per process in a fresh folder under the temporary
// folder and removed at exit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vx::fuzz {

class TInputFile {
 public:
  TInputFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vx-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    path_ = folder_ + "/input.ini";
  }
  ~TInputFile() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& Write(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path_;
  }

 private:
  std::string folder_;
  std::string path_;
};

inline TInputFile& InputFile() {
  static TInputFile file;
  return file;
}

}  // namespace vx::fuzz
