// The tape commands against a real virtual tape drive (tgt over iSCSI on
// loopback).  Where tgt answers otherwise than a real drive, the test checks
// what tgt does and says so.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "devices/scsi_tape.h"
#include "devices/tgt_target.h"

namespace vx {
namespace {

using test::TTgtTarget;

class TapeIscsi : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tgt_.Ready()) << tgt_.Error(); }

  std::unique_ptr<TSCSITape> OpenTape(const std::vector<std::string>& devices) {
    auto tape = std::make_unique<TSCSITape>(std::make_unique<TASPI32>(devices, OpenScsiDevice));
    opened_ = tape->Open();
    return tape;
  }
  std::unique_ptr<TSCSITape> OpenReadyTape() {
    auto tape = OpenTape({tgt_.Url()});
    EXPECT_EQ(opened_, 0);
    EXPECT_EQ(tape->Rewind(true), 0);
    tape->SetBlockSize(32768);
    return tape;
  }
  static std::vector<std::uint8_t> Block(std::uint8_t seed) {
    std::vector<std::uint8_t> b(32768);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
  }

  TTgtTarget tgt_{16};
  int opened_ = 99;
};

TEST_F(TapeIscsi, BlocksAndFilemarksReachTheTapeAndReadBack) {
  auto tape = OpenReadyTape();
  for (std::uint8_t s : {1, 2, 3}) EXPECT_EQ(tape->WriteBlock(Block(s).data(), 32768), 0);
  EXPECT_EQ(tape->WriteFilemark(), 0);
  EXPECT_EQ(tape->WriteBlock(Block(4).data(), 32768), 0);
  EXPECT_EQ(tape->WriteFilemark(), 0);
  EXPECT_EQ(tape->FlushWrites(), 0);

  const auto c = tgt_.TapeContents();
  std::string kinds;
  for (const auto& e : c) {
    kinds += e.Kind;
    if (e.Kind == 'D') {
      EXPECT_EQ(e.Size, 32768);
    }
  }
  EXPECT_EQ(kinds, "DDDFDFE");

  ASSERT_EQ(tape->Rewind(true), 0);
  std::vector<std::uint8_t> buf(32768);
  std::uint32_t got = 0;
  for (std::uint8_t s : {1, 2, 3, 4}) {  // the 4th read meets the mark and reads on
    ASSERT_EQ(tape->ReadBlock(buf.data(), 32768, got), 0);
    EXPECT_EQ(buf, Block(s)) << int(s);
  }
  // After the last mark lies the end of the data.  A drive answers BLANK
  // CHECK (returned as 8); tgt answers MEDIUM ERROR.
  EXPECT_THROW(tape->ReadBlock(buf.data(), 32768, got), TPT_MediumError);
}

TEST_F(TapeIscsi, SkipFilemarksPositionsBehindTheMarks) {
  auto tape = OpenReadyTape();
  for (std::uint8_t s : {10, 11, 12}) {
    tape->WriteBlock(Block(s).data(), 32768);
    tape->WriteFilemark();
  }
  tape->FlushWrites();
  ASSERT_EQ(tape->Rewind(true), 0);
  EXPECT_EQ(tape->SkipFilemarks(2), 0);
  std::vector<std::uint8_t> buf(32768);
  std::uint32_t got = 0;
  ASSERT_EQ(tape->ReadBlock(buf.data(), 32768, got), 0);
  EXPECT_EQ(buf, Block(12));
}

TEST_F(TapeIscsi, BlockSizeIsSetOnTheSecondTryBecauseTgtWantsPageFormat) {
  auto tape = OpenTape({tgt_.Url()});
  ASSERT_EQ(opened_, 0);
  const std::string trace = tgt_.Folder() + "/tape.trc";
  tape->TraceFileName = trace;
  tape->SetBlockSize(32768);
  std::ifstream in(trace, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  // tgt refuses MODE SELECT(6) without the page-format bit (ILLEGAL REQUEST).
  EXPECT_EQ(ss.str(),
            "Set block size to 32768 with Result 5\r\n"
            "Set block size to 32768 with Result 0\r\n");
  EXPECT_EQ(tape->WriteBlock(Block(0).data(), 32768), 0);
}

TEST_F(TapeIscsi, WriteProtectedTapeRefusesTheFirstBlock) {
  ASSERT_TRUE(tgt_.SetParams("readonly=1"));
  auto tape = OpenReadyTape();
  try {
    tape->WriteBlock(Block(0).data(), 32768);
    ADD_FAILURE() << "write accepted";
  } catch (const TPT_DataProtection& e) {
    EXPECT_STREQ(e.what(), "Write protection during write block");
  }
  EXPECT_THROW(tape->WriteFilemark(), TPT_DataProtection);
}

TEST_F(TapeIscsi, DriveWithoutTapeAnswersNotReadyWithoutException) {
  ASSERT_TRUE(tgt_.SetParams("online=0"));
  auto tape = OpenTape({tgt_.Url()});
  ASSERT_EQ(opened_, 0);  // the drive itself answers INQUIRY
  EXPECT_EQ(tape->Rewind(true), 2);
  EXPECT_EQ(tape->WriteBlock(Block(0).data(), 32768), 2);
}

TEST_F(TapeIscsi, UnloadIsAcceptedButTgtKeepsTheTape) {
  auto tape = OpenReadyTape();
  tape->WriteBlock(Block(5).data(), 32768);
  tape->WriteFilemark();
  EXPECT_EQ(tape->Unload(), 0);
  // A drive would eject now; tgt takes 1Bh with byte 4 = 0 as a stop that
  // does nothing, so the tape is still there to read.
  ASSERT_EQ(tape->Rewind(true), 0);
  std::vector<std::uint8_t> buf(32768);
  std::uint32_t got = 0;
  EXPECT_EQ(tape->ReadBlock(buf.data(), 32768, got), 0);
  EXPECT_EQ(buf, Block(5));
}

TEST_F(TapeIscsi, OnlyASequentialDeviceCountsAsTheDrive) {
  ASSERT_TRUE(tgt_.AddDiskLun(2, 1));
  OpenTape({tgt_.Url(2)});
  EXPECT_EQ(opened_, -3);
  auto tape = OpenTape({tgt_.Url(2), "iscsi://127.0.0.1:1/iqn.2026-01.test.vaultix:none/1", tgt_.Url(1)});
  EXPECT_EQ(opened_, 0);
  EXPECT_EQ(tape->Target(), 2);
}

}  // namespace
}  // namespace vx
