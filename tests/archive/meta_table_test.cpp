// The metadata table: its bytes, a round trip of every kind of entry, and
// tables that must be refused, written byte by byte here.
#include "archive/meta_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/named_case.h"
#include "support/utils.h"

namespace vx {
namespace {

TMetaEntry Entry(TMetaKind kind, std::uint16_t mode, std::string path = {}) {
  TMetaEntry e;
  e.kind = kind;
  e.mode = mode;
  e.uid = 1000;
  e.gid = 100;
  e.mtimeNs = 1'600'000'000'123'456'789;
  e.path = std::move(path);
  return e;
}

TEST(MetaTable, EveryKindComesBackAndAnyChangedByteIsRefused) {
  TMetaTable table;
  table.users = {{0, "root"}, {1000, "eva"}};
  table.groups = {{100, "users"}};
  TMetaEntry file = Entry(TMetaKind::File, 04755);
  file.index = 1;
  file.hasAtime = true;
  file.atimeNs = -5;  // before 1970
  file.xattrs = {{"user.comment", "ahoj"}, {"system.posix_acl_access", std::string("\0\1\2", 3)}};
  TMetaEntry link = Entry(TMetaKind::Symlink, 0777, "/home/eva/.ssh/link");
  link.target = "../keys/id";
  TMetaEntry second = Entry(TMetaKind::HardLink, 0644, "/home/eva/b");
  second.index = 0;
  TMetaEntry device = Entry(TMetaKind::BlockDevice, 0660, "/dev/loop9");
  device.rdev = 0x0000000700000009ull;
  table.entries = {file,
                   Entry(TMetaKind::Folder, 0700, "/home/eva/empty"),
                   link,
                   second,
                   Entry(TMetaKind::Fifo, 0620, "/home/eva/fifo"),
                   Entry(TMetaKind::Socket, 0755, "/home/eva/sock"),
                   Entry(TMetaKind::CharDevice, 0666, "/dev/null2"),
                   device};
  const std::vector<std::uint8_t> bytes = EncodeMetaTable(table);
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(0, std::memcmp(bytes.data(), "VXMT\x01\x00\x00\x00", 8));
  // The directory's checksum of the whole table is a real one (0 means none).
  EXPECT_NE(CrcUpdate(kCrcInit, bytes.data(), bytes.size()), 0u);

  TMetaTable back;
  std::string error;
  ASSERT_TRUE(DecodeMetaTable(bytes.data(), bytes.size(), 2, back, error)) << error;
  EXPECT_EQ(back, table);

  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::vector<std::uint8_t> changed = bytes;
    changed[i] ^= 0x10;
    EXPECT_FALSE(DecodeMetaTable(changed.data(), changed.size(), 2, back, error)) << "byte " << i;
  }
  EXPECT_FALSE(DecodeMetaTable(bytes.data(), bytes.size() - 1, 2, back, error));
}

// Table bytes put together by hand, closed with their checksum.
class TBytes {
 public:
  TBytes& U8(std::uint64_t v) { return Put(v, 1); }
  TBytes& U16(std::uint64_t v) { return Put(v, 2); }
  TBytes& U32(std::uint64_t v) { return Put(v, 4); }
  TBytes& U64(std::uint64_t v) { return Put(v, 8); }
  TBytes& Text(const std::string& s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  // Mark, version 1, no flags, no users, no groups, `count` entries.
  static TBytes Head(std::uint32_t count, std::uint16_t version = 1) {
    TBytes b;
    b.Text("VXMT").U16(version).U16(0).U32(0).U32(0).U32(count);
    return b;
  }
  // kind, flags, mode, uid, gid, mtime.
  TBytes& Common(std::uint8_t kind, std::uint8_t flags, std::uint16_t mode) {
    return U8(kind).U8(flags).U16(mode).U32(1000).U32(1000).U64(7);
  }
  std::vector<std::uint8_t> Closed() const {
    std::vector<std::uint8_t> out = bytes_;
    const std::uint32_t crc = ~CrcUpdate(kCrcInit, out.data(), out.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    return out;
  }

 private:
  TBytes& Put(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<std::uint8_t> bytes_;
};

struct RefusedCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  const char* error;
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class MetaTableRefused : public ::testing::TestWithParam<RefusedCase> {};

// A directory of 2 records.
TEST_P(MetaTableRefused, NamesItsReason) {
  const RefusedCase& c = GetParam();
  TMetaTable table;
  std::string error;
  EXPECT_FALSE(DecodeMetaTable(c.bytes.data(), c.bytes.size(), 2, table, error));
  EXPECT_EQ(error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, MetaTableRefused,
    ::testing::Values(
        RefusedCase{"NoMark", TBytes().Text("VXMX").U16(1).U16(0).U32(0).U32(0).U32(0).Closed(),
                    "no metadata table"},
        RefusedCase{"NewerVersion", TBytes::Head(0, 2).Closed(), "table version 2 is not known"},
        RefusedCase{"UnknownKind", TBytes::Head(1).Common(8, 0, 0644).Text(std::string(8, 'x')).Closed(),
                    "unknown entry kind 8"},
        RefusedCase{"UnknownFlag", TBytes::Head(1).Common(0, 4, 0644).U32(0).Closed(),
                    "unknown entry flags"},
        RefusedCase{"ModeAboveTwelveBits", TBytes::Head(1).Common(0, 0, 010000).U32(0).Closed(),
                    "mode above 07777"},
        RefusedCase{"IndexOutsideDirectory", TBytes::Head(1).Common(0, 0, 0644).U32(2).Closed(),
                    "directory index outside the directory"},
        RefusedCase{"HardLinkOutsideDirectory",
                    TBytes::Head(1).Common(3, 0, 0644).U32(99).U16(2).Text("/a").Closed(),
                    "directory index outside the directory"},
        RefusedCase{"EmptyPath", TBytes::Head(1).Common(1, 0, 0755).U16(0).Closed(),
                    "empty path or NUL byte in a path"},
        RefusedCase{"NulInPath",
                    TBytes::Head(1).Common(1, 0, 0755).U16(4).Text(std::string("/a\0b", 4)).Closed(),
                    "empty path or NUL byte in a path"},
        RefusedCase{"NulInLinkText",
                    TBytes::Head(1)
                        .Common(2, 0, 0777)
                        .U16(2)
                        .Text("/l")
                        .U16(3)
                        .Text(std::string("a\0b", 3))
                        .Closed(),
                    "empty link text or NUL byte in it"},
        RefusedCase{"AttributeValueTooLong",
                    TBytes::Head(1).Common(0, 2, 0644).U32(0).U16(1).U8(1).Text("u").U32(70000).Closed(),
                    "attribute value too long"},
        RefusedCase{"EntryCountPastTheEnd", TBytes::Head(1000000).Closed(),
                    "entry count runs past the end"},
        RefusedCase{"UserCountPastTheEnd",
                    TBytes().Text("VXMT").U16(1).U16(0).U32(0xFFFFFFFF).Closed(),
                    "name count runs past the end"},
        RefusedCase{"EntryCutShort",
                    TBytes::Head(2).Common(0, 0, 0644).U32(0).Common(1, 0, 0755).U16(200).Text("/a").Closed(),
                    "table ends too early"},
        RefusedCase{"BytesAfterTheLastEntry",
                    TBytes::Head(1).Common(0, 0, 0644).U32(1).U8(0).Closed(),
                    "bytes after the last entry"},
        RefusedCase{"BadChecksum",
                    [] {
                      auto b = TBytes::Head(0).Closed();
                      b.back() ^= 1;
                      return b;
                    }(),
                    "checksum differs"}),
    vx::test::TCaseName());

}  // namespace
}  // namespace vx
