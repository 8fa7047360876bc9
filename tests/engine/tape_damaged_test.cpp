// A set on tape with one damaged file: the files behind it are still read
// from their own data, because on tape each file begins behind its own mark.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "archive/format.h"
#include "common/engine_fixture.h"
#include "common/files.h"
#include "common/temp_folder.h"
#include "common/tgt_target.h"
#include "engine/destinations.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "support/utils.h"

namespace vx {
namespace {

using test::NoiseBytes;
using test::ReadFile;
using test::ReadLines;
using test::TTgtTarget;
using test::WriteFile;

class TapeDamagedSet : public test::TEngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tgt_.Ready()) << tgt_.Error();
    files_ = {{dir / "first.bin", NoiseBytes(50000, 1)},
              {dir / "broken.bin", NoiseBytes(45000, 2)},
              {dir / "third.bin", NoiseBytes(33000, 3)}};
    for (const auto& [path, content] : files_) WriteFile(path, content);
    WriteSetWithBrokenSecondFile();
  }

  // Header, directory and the files' blocks as a backup to tape lays them
  // out; the second file's second block header claims more than a block.
  void WriteSetWithBrokenSecondFile() {
    TArchiveStream out(TStreamMode::Write, OpenTapeDestination(TStreamMode::Write));
    std::uint8_t buf[kRecordSize] = {};
    EncodeHeader(TArchiveHeader{false, false, false, ""}, buf);
    out.WriteBytes(buf, kHeaderSize);
    EncodeCount(static_cast<std::int32_t>(files_.size()), buf);
    out.WriteBytes(buf, kCountSize);
    for (const auto& [path, content] : files_) {
      const TDirRecord r{path,
                         static_cast<std::int32_t>(content.size()),
                         CrcUpdate(kCrcInit, content.data(), content.size()),
                         0x20,
                         45000.5,
                         0};
      EncodeRecord(r, buf);
      out.WriteBytes(buf, kRecordSize);
    }
    for (std::size_t f = 0; f < files_.size(); ++f) {
      const std::string& content = files_[f].second;
      for (std::size_t pos = 0; pos < content.size(); pos += kBlockSize) {
        const std::size_t n = std::min(kBlockSize, content.size() - pos);
        TBlockHeader h;
        h.rawLength = static_cast<std::int32_t>(n);
        h.storedLength = static_cast<std::int32_t>(n);
        if (f == 1 && pos > 0) h.rawLength = h.storedLength = 40000;
        EncodeBlockHeader(h, buf);
        out.WriteBytes(buf, kBlockHeaderSize);
        out.WriteBytes(content.data() + pos, n);
      }
      EncodeBlockHeader(TBlockHeader{}, buf);
      out.WriteBytes(buf, kBlockHeaderSize);
      out.FlushToBlockEnd();
      out.WriteTapeFileMark();
    }
    out.Close();
  }

  TTgtTarget tgt_{16};
  test::TScopedEnv tapeEnv_{"VAULTIX_TAPE", tgt_.Url()};
  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(TapeDamagedSet, VerifyGoesOnWithTheFileBehindTheDamage) {
  engine.BackupToTape = true;
  UseLog(dir / "verify.log");
  EXPECT_EQ(engine.Verify(), 98);  // a file that could not be checked fails the run
  EXPECT_TRUE(LogHas(files_[0].first + " bez chýb"));
  EXPECT_TRUE(LogHas("Chyba (Porušená hlavička súboru) počas kontroly " + files_[1].first));
  EXPECT_TRUE(LogHas(files_[2].first + " bez chýb"));
}

TEST_F(TapeDamagedSet, RestoreGoesOnWithTheFileBehindTheDamage) {
  engine.BackupToTape = true;
  RestoreEverythingTo();
  UseLog(dir / "restore.log");
  EXPECT_EQ(engine.Restore(), 9);  // the damaged file fails the run
  EXPECT_TRUE(ReadFile(dir / ("out" + files_[0].first)) == files_[0].second);
  EXPECT_TRUE(ReadFile(dir / ("out" + files_[2].first)) == files_[2].second);
  EXPECT_TRUE(
      LogHas("Chyba (Porušená hlavička súboru) sa vyskytla počas obnovy " + files_[1].first));
}

}  // namespace
}  // namespace vx
