#pragma once
// Helpers of the read-side engine tests: private folders, file contents, log
// lines, and archives written with the archive layer itself (so that the
// readers can be tested on sets with any content, hostile ones included).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"
#include "platform/date_time.h"
#include "support/utils.h"

namespace vx::testing {

namespace fs = std::filesystem;

// A fresh folder under /tmp, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    char templ[] = "/tmp/vx-h4-XXXXXX";
    const char* p = ::mkdtemp(templ);
    if (p == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = p;
  }
  ~TTempDir() {
    std::error_code ec;
    // Give write permission back so that read-only test files go too.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// The log's lines without their line ends.
inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream s(ReadFile(path));
  std::string line;
  while (std::getline(s, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

inline std::string TextBytes(std::size_t n) {
  std::string s;
  while (s.size() < n) s += "Zaloha udajov, riadok " + std::to_string(s.size()) + "\n";
  s.resize(n);
  return s;
}

// One file of an archive written by the tests.
struct TStoredFile {
  std::string path;     // as stored
  std::string content;  // the data blocks' bytes
  std::uint32_t attr = 0x20;
  double time = 0.0;    // 0: a fixed time in 2024
  bool badCrc = false;  // store a wrong checksum
};

inline double FixedTime() {
  double t = 0.0;
  TryEncodeDateTime(2024, 3, 14, 10, 20, 30, t);
  return t;
}

// Writes an archive file as a backup would: header, directory, blocks.
// level 0/1/9; key non-empty enciphers the blocks; span writes volumes.
inline void WriteArchive(const std::string& base, const std::vector<TStoredFile>& files,
                         int level = 0, const std::string& key = "",
                         const std::string& comment = "", bool span = false,
                         std::int64_t limit = 0) {
  TArchiveStream out(TStreamMode::Write, base, span, limit, false,
                     [](int, TReaction&) { return false; });
  TArchiveHeader h;
  h.compressed = level != 0;
  h.encrypted = !key.empty();
  h.spanned = span;
  h.comment = comment;
  std::uint8_t hdr[kHeaderSize] = {};
  EncodeHeader(h, hdr);
  out.WriteBytes(hdr, kHeaderSize);
  std::uint8_t cnt[kCountSize];
  EncodeCount(static_cast<std::int32_t>(files.size()), cnt);
  out.WriteBytes(cnt, kCountSize);
  for (const TStoredFile& f : files) {
    TDirRecord r;
    r.path = f.path;
    r.size = static_cast<std::int32_t>(f.content.size());
    r.crc = CrcUpdate(kCrcInit, f.content.data(), f.content.size()) ^ (f.badCrc ? 1u : 0u);
    r.attr = f.attr;
    r.time = f.time == 0.0 ? FixedTime() : f.time;
    std::uint8_t rec[kRecordSize];
    EncodeRecord(r, rec);
    out.WriteBytes(rec, kRecordSize);
  }
  TBlockCodec codec;
  TBlowFish cipher;
  if (!key.empty()) cipher.SetKey(key);
  for (const TStoredFile& f : files) {
    for (std::size_t pos = 0; pos < f.content.size(); pos += kBlockSize) {
      const std::size_t n = std::min(kBlockSize, f.content.size() - pos);
      std::size_t len = 0;
      const std::uint8_t* enc =
          codec.Encode(reinterpret_cast<const std::uint8_t*>(f.content.data()) + pos, n, level,
                       key.empty() ? nullptr : &cipher, len);
      out.WriteBytes(enc, len);
    }
    std::uint8_t end[kBlockHeaderSize] = {};
    out.WriteBytes(end, kBlockHeaderSize);
  }
  out.Close();
}

// Points the archive-bit store at a private folder for the test's lifetime.
class TStateDir {
 public:
  TStateDir() { ::setenv("VAULTIX_STATE_DIR", dir_.path().c_str(), 1); }
  ~TStateDir() { ::unsetenv("VAULTIX_STATE_DIR"); }

 private:
  TTempDir dir_;
};

}  // namespace vx::testing
