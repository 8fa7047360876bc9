// Encoding and decoding of the fixed-size parts of an archive.
#include "archive/format.h"

#include <cmath>
#include <cstring>

#include "support/utils.h"

namespace vx {
namespace {

void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutI32(std::uint8_t* p, std::int32_t v) { PutU32(p, static_cast<std::uint32_t>(v)); }
std::int32_t GetI32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetU32(p)); }

void PutDouble(std::uint8_t* p, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutU32(p, static_cast<std::uint32_t>(bits));
  PutU32(p + 4, static_cast<std::uint32_t>(bits >> 32));
}

double GetDouble(const std::uint8_t* p) {
  std::uint64_t bits =
      static_cast<std::uint64_t>(GetU32(p)) | static_cast<std::uint64_t>(GetU32(p + 4)) << 32;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// Length byte followed by at most 255 bytes of text; the caller has zeroed
// the field.
void PutString(std::uint8_t* p, const std::string& text) {
  std::string cut = CutStoredString(text);
  p[0] = static_cast<std::uint8_t>(cut.size());
  // A counted field: no terminating NUL belongs to it.
  std::memcpy(p + 1, cut.data(), cut.size());  // NOLINT(bugprone-not-null-terminated-result)
}

std::string GetString(const std::uint8_t* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

}  // namespace

std::string CutStoredString(const std::string& text) {
  if (text.size() <= kMaxStringBytes) return text;
  std::size_t cut = kMaxStringBytes;
  // Step back to the first byte of the character that would be split.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

void EncodeHeader(const TArchiveHeader& h, std::uint8_t out[kHeaderSize]) {
  std::memset(out, 0, kHeaderSize);
  PutU32(out, kArchiveMagic);
  out[4] = h.compressed ? 1 : 0;
  out[5] = h.encrypted ? 1 : 0;
  out[6] = h.spanned ? 1 : 0;
  PutString(out + 7, h.comment);
}

bool DecodeHeader(const std::uint8_t in[kHeaderSize], TArchiveHeader& h) {
  if (GetU32(in) != kArchiveMagic) return false;
  h.compressed = in[4] != 0;
  h.encrypted = in[5] != 0;
  h.spanned = in[6] != 0;
  h.comment = GetString(in + 7);
  return true;
}

void EncodeCount(std::int32_t count, std::uint8_t out[kCountSize]) { PutI32(out, count); }
std::int32_t DecodeCount(const std::uint8_t in[kCountSize]) { return GetI32(in); }

void EncodeRecord(const TDirRecord& r, std::uint8_t out[kRecordSize]) {
  std::memset(out, 0, kRecordSize);
  PutString(out, r.path);
  PutI32(out + 256, r.size);
  PutU32(out + 260, r.crc);
  PutU32(out + 264, r.attr);
  PutDouble(out + 268, r.time);
  out[276] = 0;  // the mark is a reader's in-memory selection, never stored
}

bool PlausibleRecord(const TDirRecord& r) {
  return !r.path.empty() && r.path.find('\0') == std::string::npos && std::isfinite(r.time);
}

TDirRecord DecodeRecord(const std::uint8_t in[kRecordSize]) {
  TDirRecord r;
  r.path = GetString(in);
  r.size = GetI32(in + 256);
  r.fullSize = static_cast<std::uint32_t>(r.size);
  r.crc = GetU32(in + 260);
  r.attr = GetU32(in + 264);
  r.time = GetDouble(in + 268);
  r.mark = in[276];
  return r;
}

void EncodeBlockHeader(const TBlockHeader& b, std::uint8_t out[kBlockHeaderSize]) {
  PutI32(out, b.rawLength);
  PutI32(out + 4, b.storedLength);
  out[8] = b.compressed;
  out[9] = 0;
}

TBlockHeader DecodeBlockHeader(const std::uint8_t in[kBlockHeaderSize]) {
  TBlockHeader b;
  b.rawLength = GetI32(in);
  b.storedLength = GetI32(in + 4);
  b.compressed = in[8];
  b.reserved = in[9];
  return b;
}

bool BlockHeaderValid(const TBlockHeader& b) {
  constexpr auto kMax = static_cast<std::int32_t>(kBlockSize);
  return b.rawLength >= 0 && b.rawLength <= kMax && b.storedLength >= 0 && b.storedLength <= kMax;
}

namespace {
constexpr char kTrailerMark[] = "VXVOLSET";
constexpr std::size_t kTrailerMarkSize = 8;
constexpr std::size_t kTrailerCheckAt = 28;
}  // namespace

void EncodeVolumeTrailer(const TVolumeTrailer& t, std::uint8_t out[kVolumeTrailerSize]) {
  std::memcpy(out, kTrailerMark, kTrailerMarkSize);
  std::memcpy(out + kTrailerMarkSize, t.setId.data(), t.setId.size());
  PutU32(out + 24, t.volume);
  PutU32(out + kTrailerCheckAt, CrcUpdate(kCrcInit, out, kTrailerCheckAt));
}

bool DecodeVolumeTrailer(const std::uint8_t in[kVolumeTrailerSize], TVolumeTrailer& t) {
  if (std::memcmp(in, kTrailerMark, kTrailerMarkSize) != 0) return false;
  if (GetU32(in + kTrailerCheckAt) != CrcUpdate(kCrcInit, in, kTrailerCheckAt)) return false;
  std::memcpy(t.setId.data(), in + kTrailerMarkSize, t.setId.size());
  t.volume = GetU32(in + 24);
  return true;
}

}  // namespace vx
