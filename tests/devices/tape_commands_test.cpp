// The command blocks the tape drive receives and how each answer is treated,
// checked against a scripted transport.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/error_of.h"
#include "common/files.h"
#include "common/named_case.h"
#include "common/temp_folder.h"
#include "devices/recording_transport.h"
#include "platform/hooks.h"

namespace vx {
namespace {

using test::CheckCondition;
using test::Good;
using test::OpenScriptedTape;
using test::ScriptedAspi;
using test::TDeviceScript;
using Bytes = std::vector<std::uint8_t>;

std::shared_ptr<TDeviceScript> Drive(int type = 1) {
  auto s = std::make_shared<TDeviceScript>();
  s->DeviceType = type;
  return s;
}

// A scripted drive, opened; each test sees only its own commands.
class TapeCommands : public ::testing::Test {
 protected:
  std::shared_ptr<TDeviceScript> drive = Drive();
  std::unique_ptr<TSCSITape> tape = OpenScriptedTape(drive);
};

TEST_F(TapeCommands, EachOperationSendsItsCommandBlockDirectionAndLength) {
  std::vector<std::uint8_t> block(32768, 0x5A);
  std::uint32_t got = 0;
  tape->WriteBlock(block.data(), 32768);
  tape->ReadBlock(block.data(), 32768, got);
  tape->WriteFilemark();
  tape->FlushWrites();
  tape->Unload();
  tape->SkipFilemarks(3);
  ASSERT_EQ(drive->Commands.size(), 6u);
  const auto& c = drive->Commands;
  EXPECT_EQ(c[0].Cdb, (Bytes{0x0A, 0x01, 0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(c[0].Direction, TScsiDirection::Out);
  EXPECT_EQ(c[0].Length, 32768u);
  EXPECT_EQ(c[0].DataOut, block);
  EXPECT_EQ(c[1].Cdb, (Bytes{0x08, 0x01, 0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(c[1].Direction, TScsiDirection::In);
  EXPECT_EQ(c[1].Length, 32768u);
  EXPECT_EQ(got, 32768u);
  EXPECT_EQ(c[2].Cdb, (Bytes{0x10, 0x01, 0x00, 0x00, 0x01, 0x00}));
  EXPECT_EQ(c[3].Cdb, (Bytes{0x10, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(c[4].Cdb, (Bytes{0x1B, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(c[5].Cdb, (Bytes{0x11, 0x01, 0x00, 0x00, 0x03, 0x00}));
  for (std::size_t i = 2; i < 6; ++i) {
    EXPECT_EQ(c[i].Length, 0u) << i;
    EXPECT_EQ(c[i].Direction, TScsiDirection::In) << i;
  }
}

TEST_F(TapeCommands, RewindWaitsOrReturnsAtOnceAndDestructionRewindsWithoutWaiting) {
  tape->Rewind(true);
  tape->Rewind(false);
  tape.reset();
  ASSERT_EQ(drive->Commands.size(), 3u);
  EXPECT_EQ(drive->Commands[0].Cdb, (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(drive->Commands[1].Cdb, (Bytes{0x01, 0x01, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(drive->Commands[2].Cdb, (Bytes{0x01, 0x01, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(TapeCommands, DestructionSurvivesAFailingRewind) {
  drive->Answer(CheckCondition(0x03));
  EXPECT_NO_THROW(tape.reset());
  EXPECT_EQ(drive->Commands.size(), 1u);
}

TEST_F(TapeCommands, SetBlockSizeSendsModeSelectWithBlockDescriptor) {
  tape->SetBlockSize(32768);
  ASSERT_EQ(drive->Commands.size(), 1u);
  const auto& c = drive->Commands[0];
  EXPECT_EQ(c.Cdb, (Bytes{0x15, 0x00, 0x00, 0x00, 0x0C, 0x00}));
  EXPECT_EQ(c.Direction, TScsiDirection::Out);
  EXPECT_EQ(c.DataOut,
            (Bytes{0x00, 0x00, 0x10, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00}));
  EXPECT_EQ(tape->BlockSize(), 32768u);

  drive->Commands.clear();
  tape->SetBlockSize(0x123456);
  ASSERT_EQ(drive->Commands.size(), 1u);
  const Bytes& p = drive->Commands[0].DataOut;
  EXPECT_EQ(Bytes(p.begin() + 9, p.end()), (Bytes{0x12, 0x34, 0x56}));
}

TEST(TapeOpen, OpenSetsSmallBlocksOnTheDriveItFound) {
  auto drive = Drive();
  TSCSITape tape(ScriptedAspi({drive}));
  EXPECT_EQ(tape.Target(), -1);
  EXPECT_EQ(tape.BlockSize(), 0u);
  ASSERT_EQ(tape.Open(), 0);
  EXPECT_EQ(tape.BlockSize(), 8192u);
  ASSERT_EQ(drive->Commands.size(), 2u);
  EXPECT_EQ(drive->Commands[0].Cdb, (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(drive->Commands[1].Cdb[0], 0x15);
  EXPECT_EQ(Bytes(drive->Commands[1].DataOut.begin() + 9, drive->Commands[1].DataOut.end()),
            (Bytes{0x00, 0x20, 0x00}));
}

TEST(TapeOpen, OpenTakesPendingUnitAttentionsBeforeTheFirstRealCommand) {
  auto drive = Drive();
  drive->Answer(CheckCondition(0x06));  // power on / reset
  drive->Answer(CheckCondition(0x06));  // tape changed
  TSCSITape tape(ScriptedAspi({drive}));
  ASSERT_EQ(tape.Open(), 0);
  ASSERT_EQ(drive->Commands.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(drive->Commands[i].Cdb[0], 0x00) << i;
  EXPECT_EQ(drive->Commands[3].Cdb[0], 0x15);

  // A drive that keeps reporting is asked a bounded number of times, and
  // the report then reaches the first real command.
  auto stubborn = Drive();
  for (int i = 0; i < 5; ++i) stubborn->Answer(CheckCondition(0x06));
  TSCSITape other(ScriptedAspi({stubborn}));
  EXPECT_THROW(other.Open(), TPT_UnitAttention);
  EXPECT_EQ(stubborn->Commands.size(), 5u);

  // Not ready (no tape) is not taken here: the rewind that follows reports it.
  auto empty = Drive();
  empty->Answer(CheckCondition(0x02));
  TSCSITape third(ScriptedAspi({empty}));
  EXPECT_EQ(third.Open(), 0);
  EXPECT_EQ(empty->Commands.size(), 2u);
}

TEST_F(TapeCommands, ModeSelectRefusedWithoutPageFormatIsSentAgainWithIt) {
  drive->Answer(CheckCondition(0x05));
  tape->SetBlockSize(32768);
  ASSERT_EQ(drive->Commands.size(), 2u);
  EXPECT_EQ(drive->Commands[1].Cdb, (Bytes{0x15, 0x10, 0x00, 0x00, 0x0C, 0x00}));
  EXPECT_EQ(drive->Commands[1].DataOut, drive->Commands[0].DataOut);

  // Refused both ways: nothing more is tried, and the drive's block length
  // is not what the stream needs.
  drive->Commands.clear();
  drive->Answer(CheckCondition(0x05));
  drive->Answer(CheckCondition(0x05));
  EXPECT_THROW(tape->SetBlockSize(65536), TP_TapeException);
  EXPECT_EQ(drive->Commands.size(), 2u);
}

TEST_F(TapeCommands, ReadThatMeetsAFilemarkIsRepeatedAndReturnsTheNextBlock) {
  drive->Answer(CheckCondition(0x80));
  drive->Answer(CheckCondition(0x80));
  drive->Answer(Good(), Bytes(16, 0xAB));
  Bytes buf(16, 0);
  std::uint32_t got = 0;
  EXPECT_EQ(tape->ReadBlock(buf.data(), 16, got), 0);
  EXPECT_EQ(buf, Bytes(16, 0xAB));
  EXPECT_EQ(got, 16u);
  EXPECT_EQ(drive->Commands.size(), 3u);
}

TEST_F(TapeCommands, SkipFilemarksCountIsBigEndianAndRepeatsOnFilemark) {
  tape->SkipFilemarks(0x012345);
  ASSERT_EQ(drive->Commands.size(), 1u);
  EXPECT_EQ(drive->Commands[0].Cdb, (Bytes{0x11, 0x01, 0x01, 0x23, 0x45, 0x00}));
  drive->Commands.clear();
  drive->Answer(CheckCondition(0x80));
  EXPECT_EQ(tape->SkipFilemarks(2), 0);
  EXPECT_EQ(drive->Commands.size(), 2u);
}

// Sense keys that mean a fault raise it, named with the command; the others
// are returned as they are.
struct TSenseCase {
  const char* name;
  std::uint8_t byte2;
  const char* message;  // nullptr: returned without exception
};
void PrintTo(const TSenseCase& c, std::ostream* os) { *os << c.name; }

class TapeSense : public TapeCommands, public ::testing::WithParamInterface<TSenseCase> {};

TEST_P(TapeSense, BecomesATypedExceptionWithContextOrTheResult) {
  const TSenseCase& c = GetParam();
  drive->Answer(CheckCondition(c.byte2));
  const std::uint8_t block[4] = {1, 2, 3, 4};
  if (c.message == nullptr) {
    EXPECT_EQ(tape->WriteBlock(block, 4), c.byte2);
    return;
  }
  EXPECT_EQ(test::ErrorOf<TP_TapeException>([&] { tape->WriteBlock(block, 4); }), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TapeSense,
    ::testing::Values(
        TSenseCase{"MediumError", 0x03, "Medium error during write block"},
        TSenseCase{"HardwareError", 0x04, "Hardware error during write block"},
        TSenseCase{"UnitAttention", 0x06, "Unit needs attention during write block"},
        TSenseCase{"DataProtect", 0x07, "Write protection during write block"},
        TSenseCase{"VolumeOverflow", 0x0D, "Volume full during write block"},
        TSenseCase{"MediumErrorWithFilemark", 0x83, "Medium error during write block"},
        TSenseCase{"VolumeOverflowWithEom", 0x4D, nullptr},
        TSenseCase{"VolumeOverflowWithIli", 0x2D, nullptr}, TSenseCase{"NotReady", 0x02, nullptr},
        TSenseCase{"IllegalRequest", 0x05, nullptr}, TSenseCase{"BlankCheck", 0x08, nullptr},
        TSenseCase{"EndOfMediumOnly", 0x40, nullptr}),
    test::TCaseName());

TEST_F(TapeCommands, EachKeyRaisesItsOwnClass) {
  drive->Answer(CheckCondition(0x03));
  EXPECT_THROW(tape->WriteFilemark(), TPT_MediumError);
  drive->Answer(CheckCondition(0x04));
  EXPECT_THROW(tape->Rewind(true), TPT_HardwareError);
  drive->Answer(CheckCondition(0x06));
  EXPECT_THROW(tape->SkipFilemarks(1), TPT_UnitAttention);
  drive->Answer(CheckCondition(0x07));
  EXPECT_THROW(tape->SetBlockSize(32768), TPT_DataProtection);
  drive->Answer(CheckCondition(0x0D));
  EXPECT_THROW(tape->FlushWrites(), TPT_TapeFull);
  drive->Answer(CheckCondition(0x03));
  EXPECT_EQ(test::ErrorOf<TPT_MediumError>([&] { tape->Unload(); }),
            "Medium error during unloading a new medium");
  drive->Answer(CheckCondition(0x03));
  std::uint8_t b[8];
  std::uint32_t got = 0;
  EXPECT_EQ(test::ErrorOf<TPT_MediumError>([&] { tape->ReadBlock(b, 8, got); }),
            "Medium error during read block");
}

TEST_F(TapeCommands, TransportFailuresAndUnusableSenseGiveNine) {
  drive->Answer(TScsiResult{});  // Failed
  EXPECT_EQ(tape->WriteFilemark(), 9);
  TScsiResult junk;
  junk.Outcome = TScsiOutcome::CheckCondition;
  junk.Sense = {0x70, 0x00};
  drive->Answer(junk);
  EXPECT_EQ(tape->WriteFilemark(), 9);
}

TEST(TapeOpen, WithoutADriveOnlyTheBlockCommandsAreTriedAndFail) {
  auto disk = Drive(0);
  TSCSITape tape(ScriptedAspi({disk}));
  ASSERT_EQ(tape.Open(), -3);
  tape.SetBlockSize(32768);
  EXPECT_EQ(tape.BlockSize(), 32768u);
  EXPECT_EQ(tape.Unload(), 9);
  EXPECT_EQ(tape.SkipFilemarks(1), 9);
  std::uint8_t b[4] = {};
  EXPECT_EQ(tape.WriteBlock(b, 4), 9);
  EXPECT_EQ(tape.Rewind(true), 9);
  EXPECT_TRUE(disk->Commands.empty());
}

TEST(TapeOpen, FindsTheFirstSequentialDeviceAmongTheTargets) {
  auto disk = Drive(0);
  auto changer = Drive(8);
  auto tape1 = Drive(1);
  auto tape2 = Drive(1);
  TSCSITape tape(ScriptedAspi({disk, nullptr, changer, tape1, tape2}));
  ASSERT_EQ(tape.Open(), 0);
  EXPECT_EQ(tape.Target(), 3);
  EXPECT_EQ(tape.Aspi().DeviceName(3), "/dev/sg3");
  EXPECT_EQ(tape.Aspi().OpenErrors().size(), 1u);
  tape.WriteFilemark();
  EXPECT_EQ(tape1->Commands.size(), 3u);  // unit attention, block size, then the mark
  EXPECT_TRUE(tape2->Commands.empty());
  EXPECT_TRUE(disk->Commands.empty());
}

TEST(TapeOpen, AnswersWhyNoDriveIsThere) {
  EXPECT_EQ(TSCSITape(ScriptedAspi({})).Open(), -1);
  EXPECT_EQ(TSCSITape(ScriptedAspi({nullptr, nullptr})).Open(), -2);
  EXPECT_EQ(TSCSITape(ScriptedAspi({Drive(0), nullptr, Drive(5)})).Open(), -3);
}

TEST(TapeOpen, DeviceTypeComesFromInquiryOrIsMinusOne) {
  auto aspi = ScriptedAspi({Drive(0x21), nullptr});
  EXPECT_EQ(aspi->DeviceType(0), 1);  // peripheral qualifier bits are masked off
  EXPECT_EQ(aspi->DeviceType(1), -1);
  EXPECT_EQ(aspi->DeviceType(2), -1);
  EXPECT_EQ(aspi->DeviceType(-1), -1);
}

TEST(TapeOpen, UserInterfaceRunsAfterEveryCommand) {
  int calls = 0;
  SetProcessMessagesHook([&calls] { ++calls; });
  {
    auto drive = Drive();
    TSCSITape tape(ScriptedAspi({drive}));
    tape.Open();  // INQUIRY, TEST UNIT READY, MODE SELECT
    EXPECT_EQ(calls, 3);
    drive->Answer(CheckCondition(0x80));
    std::uint8_t b[4];
    std::uint32_t got;
    tape.ReadBlock(b, 4, got);
    EXPECT_EQ(calls, 5);
  }
  SetProcessMessagesHook(nullptr);
  EXPECT_EQ(calls, 6);  // the rewind at destruction
}

class TapeTrace : public TapeCommands {
 protected:
  test::TTempFolder dir_{"trace"};
};

TEST_F(TapeTrace, EveryTracedCommandAppendsOneLine) {
  const auto file = dir_ / "tape.trc";
  test::WriteFile(file, "earlier\r\n");
  tape->TraceFileName = file;
  std::uint8_t block[32768] = {};
  std::uint32_t got;
  drive->Answer(Good());
  drive->Answer(CheckCondition(0x80));
  tape->WriteBlock(block, 32768);
  tape->ReadBlock(block, 32768, got);
  tape->WriteFilemark();
  tape->FlushWrites();
  tape->SetBlockSize(32768);
  tape->Unload();
  tape->SkipFilemarks(4);
  tape->Rewind(true);
  EXPECT_EQ(test::ReadFile(file),
            "earlier\r\n"
            "Writeblock size 32768 Bytes with Result 0\r\n"
            "Readblock size 32768 Bytes with Result 128\r\n"
            "Readblock size 32768 Bytes with Result 0\r\n"
            "Write filemark with Result 0\r\n"
            "Flush all writes with Result 0\r\n"
            "Set block size to 32768 with Result 0\r\n"
            "Skip Forward 4 with Result 0\r\n"
            "Rewind tape with Result 0\r\n");
}

TEST_F(TapeTrace, FailedFlushLeavesNoLineButOthersTraceBeforeRaising) {
  const auto file = dir_ / "new.trc";
  tape->TraceFileName = file;
  drive->Answer(CheckCondition(0x07));
  drive->Answer(CheckCondition(0x07));
  std::uint8_t block[8] = {};
  EXPECT_THROW(tape->FlushWrites(), TPT_DataProtection);
  EXPECT_THROW(tape->WriteBlock(block, 8), TPT_DataProtection);
  EXPECT_EQ(test::ReadFile(file), "Writeblock size 8 Bytes with Result 7\r\n");
}

}  // namespace
}  // namespace vx
