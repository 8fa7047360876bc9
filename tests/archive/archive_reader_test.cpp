// The strict reader on whole archives, on every truncation of one, on
// damaged counts, headers and blocks, and on the fuzz corpus.
#include "archive/archive_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "archive/archive_stream.h"
#include "archive/errors.h"
#include "archive_builder.h"
#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

using test::BuildArchive;
using test::NoiseData;
using test::TextData;
using test::TFileSpec;

std::int32_t I32At(const std::vector<std::uint8_t>& v, std::size_t at) {
  std::int32_t x;
  std::memcpy(&x, v.data() + at, 4);
  return x;
}

// Reads every file's data through the reader and returns the contents.
std::vector<std::vector<std::uint8_t>> ReadAll(TByteSource& src, const std::string& key,
                                               std::vector<TDirRecord>& records) {
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey(key);
  const TArchiveHeader h = ReadArchiveHeader(src);
  ReadDirectory(src, records);
  std::vector<std::vector<std::uint8_t>> contents;
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::vector<std::uint8_t> data;
    ReadFileData(src, h.encrypted, codec, &cipher,
                 [&](const std::uint8_t* p, std::size_t n) { data.insert(data.end(), p, p + n); });
    contents.push_back(std::move(data));
  }
  return contents;
}

TEST(ArchiveReader, PlainArchiveLayout) {
  // 70,000 bytes make blocks of 32,768, 32,768 and 4,464; an empty file is
  // its end block alone; three files mean three end blocks.
  const std::vector<TFileSpec> files = {
      {"/data/big.bin", NoiseData(70000)}, {"/data/empty", {}}, {"/data/exact", NoiseData(32768)}};
  const auto a = BuildArchive(files, 0, "");
  std::size_t at = 263 + 4 + 3 * 277;
  ASSERT_EQ(3, I32At(a, 263));
  for (std::int32_t raw : {32768, 32768, 4464}) {
    EXPECT_EQ(raw, I32At(a, at));
    EXPECT_EQ(raw, I32At(a, at + 4));
    at += 10 + static_cast<std::size_t>(raw);
  }
  for (int end = 0; end < 2; ++end, at += 10) EXPECT_EQ(0, I32At(a, at) | I32At(a, at + 4));
  EXPECT_EQ(32768, I32At(a, at));
  at += 10 + 32768;
  EXPECT_EQ(0, I32At(a, at) | I32At(a, at + 4));
  EXPECT_EQ(a.size(), at + 10);

  TMemoryByteSource src(a.data(), a.size());
  std::vector<TDirRecord> records;
  const auto contents = ReadAll(src, "", records);
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ("/data/big.bin", records[0].path);
  EXPECT_EQ(70000, records[0].size);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(files[i].content, contents[i]) << i;
  EXPECT_EQ(a.size(), src.Position());
}

TEST(ArchiveReader, EncryptedCompressedArchiveThroughDiskVolumes) {
  const std::vector<TFileSpec> files = {{"/home/eva/notes.txt", TextData(100000)},
                                        {"/home/eva/photo.raw", NoiseData(50001)}};
  const auto a = BuildArchive(files, 9, "secret-password", "Týždenná záloha");
  EXPECT_EQ(1, a[5]);
  test::TTempFolder dir;
  {
    TArchiveStream w(TStreamMode::Write, dir / "set.arc", true, 1, false,
                     nullptr);  // one block a volume
    w.WriteBytes(a.data(), a.size());
    w.Close();
  }
  TArchiveStream r(TStreamMode::Read, dir / "set.arc", true, 0, false, nullptr);
  TStreamByteSource src(r);
  std::vector<TDirRecord> records;
  const auto contents = ReadAll(src, "secret-password", records);
  ASSERT_EQ(2u, contents.size());
  EXPECT_EQ(files[0].content, contents[0]);
  EXPECT_EQ(files[1].content, contents[1]);
  EXPECT_GT(r.VolumeNumber(), 1);
}

TEST(ArchiveReader, EveryTruncationIsADamagedArchive) {
  const auto a = BuildArchive({{"/x", TextData(3000)}, {"/y", {}}, {"/z", NoiseData(700)}}, 9, "");
  ASSERT_EQ(0, ScanArchiveBytes(a.data(), a.size(), ""));
  for (std::size_t n = 0; n < a.size(); ++n)
    ASSERT_EQ(9, ScanArchiveBytes(a.data(), n, "")) << "cut at " << n;
}

template <typename E>
std::string ReasonOf(const std::vector<std::uint8_t>& a) {
  TMemoryByteSource src(a.data(), a.size());
  std::vector<TDirRecord> records;
  try {
    ReadAll(src, "", records);
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

TEST(ArchiveReader, DamagedCountsFailBeforeAllocating) {
  auto a = BuildArchive({{"/x", TextData(100)}}, 0, "");
  auto neg = a;
  const std::int32_t minusOne = -1;
  std::memcpy(neg.data() + 263, &minusOne, 4);
  EXPECT_EQ("Poškodený zálohový súbor", ReasonOf<EVX_BackupReadError>(neg));
  // A count far beyond the data ends at the first missing record.
  auto huge = a;
  const std::int32_t count = kMaxFileCount;
  std::memcpy(huge.data() + 263, &count, 4);
  EXPECT_EQ("Lesefehler aus Stream", ReasonOf<EVX_BackupReadError>(huge));
  auto beyond = a;
  const std::int32_t tooMany = kMaxFileCount + 1;
  std::memcpy(beyond.data() + 263, &tooMany, 4);
  EXPECT_EQ("Poškodený zálohový súbor", ReasonOf<EVX_BackupReadError>(beyond));
}

TEST(ArchiveReader, DamagedHeadersAndBlocks) {
  const auto a = BuildArchive({{"/x", TextData(5000)}}, 9, "");
  const std::size_t block = 263 + 4 + 277;

  auto foreign = a;
  foreign[3] = 0x7B;
  EXPECT_EQ(8, ScanArchiveBytes(foreign.data(), foreign.size(), ""));

  auto longStored = a;
  const std::int32_t tooLong = 32769;
  std::memcpy(longStored.data() + block + 4, &tooLong, 4);
  EXPECT_EQ("Porušená hlavička súboru", ReasonOf<EVX_BackupReadError>(longStored));
  auto negRaw = a;
  const std::int32_t negative = -5;
  std::memcpy(negRaw.data() + block, &negative, 4);
  EXPECT_EQ("Porušená hlavička súboru", ReasonOf<EVX_BackupReadError>(negRaw));

  auto shortData = a;
  shortData.resize(block + 10 + 3);
  EXPECT_EQ("Predčasný koniec súboru pri čítaní súboru", ReasonOf<EVX_BackupReadError>(shortData));
  auto noEnd = a;
  noEnd.resize(a.size() - 10);
  EXPECT_EQ("Predčasný koniec súboru v hlavičke súboru", ReasonOf<EVX_BackupReadError>(noEnd));

  auto badZip = a;
  badZip[block + 10 + 20] ^= 0xFF;
  EXPECT_EQ("Dekomprimovaný blok nemá správnu dĺžku", ReasonOf<EVX_ZipError>(badZip));
  auto wrongRaw = a;
  const std::int32_t raw = 4999;
  std::memcpy(wrongRaw.data() + block, &raw, 4);
  EXPECT_EQ(3, ScanArchiveBytes(wrongRaw.data(), wrongRaw.size(), ""));
}

TEST(ArchiveReader, FuzzCorpusReplays) {
  const std::filesystem::path corpus = std::string(VX_SOURCE_DIR) + "/fuzz/corpus/archive_reader";
  ASSERT_TRUE(std::filesystem::is_directory(corpus));
  int files = 0, whole = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const auto bytes = test::ReadBytes(entry.path().string());
    const int code = ScanArchiveBytes(bytes.data(), bytes.size(), "fuzzpassword");
    EXPECT_TRUE(code == 0 || code == 3 || code == 8 || code == 9) << entry.path();
    whole += code == 0;
    ++files;
  }
  EXPECT_GE(files, 5);
  EXPECT_GE(whole, 1) << "the corpus holds intact archives";
}

}  // namespace
}  // namespace vx
