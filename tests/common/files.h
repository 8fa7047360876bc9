#pragma once
// File helpers and reproducible test data shared by every test program
// (header only: the fuzz corpus generator uses them too).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vx::test {

// Writes a whole file, making its folders first; throws when it cannot.
inline void WriteFile(const std::string& path, const std::string& content) {
  const auto parent = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The whole file; throws when it cannot be read.
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

// Whether a line of the text file equals line.
inline bool FileHasLine(const std::string& path, const std::string& line) {
  const auto lines = ReadLines(path);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The same as bytes, for the layers that take byte buffers.
inline std::vector<std::uint8_t> ToBytes(const std::string& s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}
inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}
inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  return ToBytes(ReadFile(path));
}

// n bytes that do not compress, reproducible from the start value.
inline std::string NoiseBytes(std::size_t n, std::uint32_t start = 1) {
  std::string s(n, '\0');
  std::uint32_t x = start;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

// n bytes of text that compress well.
inline std::string TextBytes(std::size_t n) {
  std::string s;
  while (s.size() < n) s += "Zaloha udajov, riadok " + std::to_string(s.size()) + "\n";
  s.resize(n);
  return s;
}

inline std::vector<std::uint8_t> NoiseData(std::size_t n, std::uint32_t start = 1) {
  return ToBytes(NoiseBytes(n, start));
}
inline std::vector<std::uint8_t> TextData(std::size_t n) { return ToBytes(TextBytes(n)); }

}  // namespace vx::test
