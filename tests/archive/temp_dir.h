#pragma once
// A private folder under the build tree's temp area, removed with its contents.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vx::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vx-archive-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Path of a name inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Deterministic bytes: text-like (compresses) or noise (does not).
inline std::vector<std::uint8_t> TextBytes(std::size_t n) {
  static const char* words[] = {"zaloha ", "suboru ", "archiv ", "disk ", "blok ", "kopia\n"};
  std::vector<std::uint8_t> out;
  std::uint32_t x = 12345;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const char* w = words[(x >> 16) % 6];
    for (const char* p = w; *p && out.size() < n; ++p) out.push_back(static_cast<std::uint8_t>(*p));
  }
  return out;
}

inline std::vector<std::uint8_t> NoiseBytes(std::size_t n,
                                            std::uint64_t start = 88172645463325252ull) {
  std::vector<std::uint8_t> out(n);
  std::uint64_t x = start;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

}  // namespace vx::testing
