// The tape drive found and set up over iSCSI on a real virtual tape drive (tgt
// on loopback).  What blocks and marks reach the tape is checked through the
// archive stream (tests/engine/tape_*).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "common/tgt_target.h"
#include "devices/scsi_tape.h"
#include "platform/hooks.h"

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
  static std::vector<std::uint8_t> Block(std::uint8_t first) {
    std::vector<std::uint8_t> b(32768);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(first + i * 7);
    return b;
  }

  TTgtTarget tgt_{16};
  int opened_ = 99;
};

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

TEST_F(TapeIscsi, OnlyASequentialDeviceCountsAsTheDrive) {
  ASSERT_TRUE(tgt_.AddDiskLun(2, 1));
  OpenTape({tgt_.Url(2)});
  EXPECT_EQ(opened_, -3);
  auto tape =
      OpenTape({tgt_.Url(2), "iscsi://127.0.0.1:1/iqn.2026-01.test.vaultix:none/1", tgt_.Url(1)});
  EXPECT_EQ(opened_, 0);
  EXPECT_EQ(tape->Target(), 2);
}

TEST_F(TapeIscsi, SilentTargetEndsTheCommandAtItsTimeOut) {
  auto tape = OpenTape({tgt_.Url()});
  ASSERT_EQ(opened_, 0);
  SetScsiTimeoutCap(2);
  tgt_.Freeze(true);
  const auto start = std::chrono::steady_clock::now();
  const int r = tape->Rewind(true);
  const auto took = std::chrono::steady_clock::now() - start;
  tgt_.Freeze(false);
  SetScsiTimeoutCap(0);
  EXPECT_EQ(r, 9);
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::seconds(10));
  // The session that lost a command is not used again.
  EXPECT_EQ(tape->WriteBlock(Block(0).data(), 32768), 9);
}

// A stop asked for while the target is silent ends the command at once, long
// before its time-out, and the session is not used again.
TEST_F(TapeIscsi, StopAskedForEndsTheWaitForASilentTarget) {
  auto tape = OpenTape({tgt_.Url()});
  ASSERT_EQ(opened_, 0);
  tgt_.Freeze(true);
  SetStopRequestHook([] { return true; });
  const int r = tape->Rewind(true);  // the time-out of a rewind is hours
  SetStopRequestHook(nullptr);
  tgt_.Freeze(false);
  EXPECT_EQ(r, 9);
  EXPECT_EQ(tape->WriteBlock(Block(0).data(), 32768), 9);
}

}  // namespace
}  // namespace vx
