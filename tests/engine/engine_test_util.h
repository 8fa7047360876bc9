#pragma once
// Shared helpers of the engine tests: fresh temporary folders, a private
// archive-bit store, and small file utilities.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vx::test {

// A fresh folder under /tmp, removed with everything in it.
class TTempFolder {
 public:
  TTempFolder() {
    char templ[] = "/tmp/vx-engine-XXXXXX";
    if (!::mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
  }
  ~TTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path/rel
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// Points VAULTIX_STATE_DIR at a fresh folder for the life of the object, so
// that every test starts with an empty archive-bit store.
class TStateScope {
 public:
  TStateScope() {
    if (const char* old = ::getenv("VAULTIX_STATE_DIR")) old_ = old;
    ::setenv("VAULTIX_STATE_DIR", dir_.path().c_str(), 1);
  }
  ~TStateScope() {
    if (old_) {
      ::setenv("VAULTIX_STATE_DIR", old_->c_str(), 1);
    } else {
      ::unsetenv("VAULTIX_STATE_DIR");
    }
  }
  TStateScope(const TStateScope&) = delete;
  TStateScope& operator=(const TStateScope&) = delete;

 private:
  TTempFolder dir_;
  std::optional<std::string> old_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a text file without their breaks (LF or CR LF).
inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// n bytes that compress poorly (a simple linear congruential sequence).
inline std::string NoiseBytes(std::size_t n, std::uint32_t start = 1) {
  std::string s(n, '\0');
  std::uint32_t x = start;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace vx::test
