// Encoding and parsing of the Linux metadata table (layout in meta_table.h).
#include "archive/meta_table.h"

#include <cstring>

#include "support/utils.h"

namespace vx {
namespace {

constexpr char kMark[] = "VXMT";
constexpr std::size_t kMarkSize = 4;
constexpr std::uint8_t kHasAtime = 1;
constexpr std::uint8_t kHasXattrs = 2;
constexpr std::uint16_t kMaxMode = 07777;
constexpr std::size_t kMaxXattrs = 0xFFFF;

class TWriter {
 public:
  void U8(std::uint8_t v) { out_.push_back(v); }
  void U16(std::uint16_t v) { Bytes(v, 2); }
  void U32(std::uint32_t v) { Bytes(v, 4); }
  void U64(std::uint64_t v) { Bytes(v, 8); }
  void Text8(const std::string& s) {
    U8(static_cast<std::uint8_t>(s.size()));
    Raw(s.data(), s.size());
  }
  void Text16(const std::string& s) {
    U16(static_cast<std::uint16_t>(s.size()));
    Raw(s.data(), s.size());
  }
  void Raw(const char* p, std::size_t n) { out_.insert(out_.end(), p, p + n); }
  std::vector<std::uint8_t>& Out() { return out_; }

 private:
  void Bytes(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t> out_;
};

// Reads from a byte range; every read fails once the range is used up, and
// the first failure sticks.
class TReader {
 public:
  TReader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  bool Ok() const { return ok_; }
  std::size_t Left() const { return n_ - at_; }
  std::uint8_t U8() { return static_cast<std::uint8_t>(Bytes(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Bytes(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Bytes(4)); }
  std::uint64_t U64() { return Bytes(8); }
  std::string Text(std::size_t length) {
    if (!Take(length)) return {};
    return std::string(reinterpret_cast<const char*>(p_ + at_ - length), length);
  }

 private:
  bool Take(std::size_t n) {
    if (!ok_ || n > Left()) {
      ok_ = false;
      return false;
    }
    at_ += n;
    return true;
  }
  std::uint64_t Bytes(int n) {
    if (!Take(static_cast<std::size_t>(n))) return 0;
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p_[at_ - n + i]) << (8 * i);
    return v;
  }
  const std::uint8_t* p_;
  std::size_t n_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

bool HasPath(TMetaKind kind) { return kind != TMetaKind::File; }

bool Clean(const std::string& s) { return !s.empty() && s.find('\0') == std::string::npos; }

void EncodeNames(TWriter& w, const std::map<std::uint32_t, std::string>& names) {
  w.U32(static_cast<std::uint32_t>(names.size()));
  for (const auto& [id, name] : names) {
    w.U32(id);
    w.Text8(name.substr(0, 255));
  }
}

bool DecodeNames(TReader& r, std::map<std::uint32_t, std::string>& names, std::string& error) {
  const std::uint32_t count = r.U32();
  // Each name takes at least 6 bytes: no count can claim more than the rest.
  if (!r.Ok() || count > r.Left() / 6) {
    error = "name count runs past the end";
    return false;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t id = r.U32();
    std::string name = r.Text(r.U8());
    if (!r.Ok()) break;
    if (!Clean(name)) {
      error = "empty name or NUL byte in a name";
      return false;
    }
    names[id] = std::move(name);
  }
  return true;
}

bool DecodeEntry(TReader& r, std::size_t records, TMetaEntry& e, std::string& error) {
  const std::uint8_t kind = r.U8();
  const std::uint8_t flags = r.U8();
  if (!r.Ok()) return true;
  if (kind > kLastMetaKind) {
    error = "unknown entry kind " + std::to_string(kind);
    return false;
  }
  if ((flags & ~(kHasAtime | kHasXattrs)) != 0) {
    error = "unknown entry flags";
    return false;
  }
  e.kind = static_cast<TMetaKind>(kind);
  e.mode = r.U16();
  e.uid = r.U32();
  e.gid = r.U32();
  e.mtimeNs = static_cast<std::int64_t>(r.U64());
  e.hasAtime = (flags & kHasAtime) != 0;
  if (e.hasAtime) e.atimeNs = static_cast<std::int64_t>(r.U64());
  if (e.mode > kMaxMode) {
    error = "mode above 07777";
    return false;
  }
  if (e.kind == TMetaKind::File || e.kind == TMetaKind::HardLink) {
    e.index = r.U32();
    if (r.Ok() && e.index >= records) {
      error = "directory index outside the directory";
      return false;
    }
  }
  if (HasPath(e.kind)) {
    e.path = r.Text(r.U16());
    if (r.Ok() && !Clean(e.path)) {
      error = "empty path or NUL byte in a path";
      return false;
    }
  }
  if (e.kind == TMetaKind::Symlink) {
    e.target = r.Text(r.U16());
    if (r.Ok() && !Clean(e.target)) {
      error = "empty link text or NUL byte in it";
      return false;
    }
  }
  if (e.kind == TMetaKind::CharDevice || e.kind == TMetaKind::BlockDevice) e.rdev = r.U64();
  if ((flags & kHasXattrs) != 0) {
    const std::uint16_t count = r.U16();
    for (std::uint16_t i = 0; i < count && r.Ok(); ++i) {
      TMetaXattr x;
      x.name = r.Text(r.U8());
      const std::uint32_t length = r.U32();
      if (r.Ok() && length > kMaxXattrValue) {
        error = "attribute value too long";
        return false;
      }
      x.value = r.Text(length);
      if (r.Ok() && !Clean(x.name)) {
        error = "empty attribute name or NUL byte in it";
        return false;
      }
      e.xattrs.push_back(std::move(x));
    }
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeMetaTable(const TMetaTable& table) {
  TWriter w;
  w.Raw(kMark, kMarkSize);
  w.U16(kMetaTableVersion);
  w.U16(0);
  EncodeNames(w, table.users);
  EncodeNames(w, table.groups);
  w.U32(static_cast<std::uint32_t>(table.entries.size()));
  for (const TMetaEntry& e : table.entries) {
    const bool xattrs = !e.xattrs.empty();
    w.U8(static_cast<std::uint8_t>(e.kind));
    w.U8(static_cast<std::uint8_t>((e.hasAtime ? kHasAtime : 0) | (xattrs ? kHasXattrs : 0)));
    w.U16(static_cast<std::uint16_t>(e.mode & kMaxMode));
    w.U32(e.uid);
    w.U32(e.gid);
    w.U64(static_cast<std::uint64_t>(e.mtimeNs));
    if (e.hasAtime) w.U64(static_cast<std::uint64_t>(e.atimeNs));
    if (e.kind == TMetaKind::File || e.kind == TMetaKind::HardLink) w.U32(e.index);
    if (HasPath(e.kind)) w.Text16(e.path);
    if (e.kind == TMetaKind::Symlink) w.Text16(e.target);
    if (e.kind == TMetaKind::CharDevice || e.kind == TMetaKind::BlockDevice) w.U64(e.rdev);
    if (xattrs) {
      const std::size_t count = std::min(e.xattrs.size(), kMaxXattrs);
      w.U16(static_cast<std::uint16_t>(count));
      for (std::size_t i = 0; i < count; ++i) {
        w.Text8(e.xattrs[i].name);
        w.U32(static_cast<std::uint32_t>(e.xattrs[i].value.size()));
        w.Raw(e.xattrs[i].value.data(), e.xattrs[i].value.size());
      }
    }
  }
  std::vector<std::uint8_t>& out = w.Out();
  // Inverted: the register over a message followed by its own register is
  // always 0, which a directory record reads as "no checksum".
  w.U32(~CrcUpdate(kCrcInit, out.data(), out.size()));
  return std::move(out);
}

bool DecodeMetaTable(const std::uint8_t* data, std::size_t size, std::size_t records,
                     TMetaTable& table, std::string& error) {
  table = {};
  constexpr std::size_t kCheckSize = 4;
  if (size < kMarkSize + 4 + kCheckSize || std::memcmp(data, kMark, kMarkSize) != 0) {
    error = "no metadata table";
    return false;
  }
  const std::size_t body = size - kCheckSize;
  TReader check(data + body, kCheckSize);
  if (check.U32() != ~CrcUpdate(kCrcInit, data, body)) {
    error = "checksum differs";
    return false;
  }
  TReader r(data + kMarkSize, body - kMarkSize);
  const std::uint16_t version = r.U16();
  r.U16();  // flags: none defined yet
  if (version != kMetaTableVersion) {
    error = "table version " + std::to_string(version) + " is not known";
    return false;
  }
  if (!DecodeNames(r, table.users, error) || !DecodeNames(r, table.groups, error)) return false;
  const std::uint32_t count = r.U32();
  // Each entry takes at least 22 bytes.
  if (!r.Ok() || count > r.Left() / 22) {
    error = "entry count runs past the end";
    return false;
  }
  table.entries.reserve(count);
  for (std::uint32_t i = 0; i < count && r.Ok(); ++i) {
    TMetaEntry& e = table.entries.emplace_back();
    if (!DecodeEntry(r, records, e, error)) return false;
  }
  if (!r.Ok()) {
    error = "table ends too early";
    return false;
  }
  if (r.Left() != 0) {
    error = "bytes after the last entry";
    return false;
  }
  return true;
}

}  // namespace vx
