// A drive that misbehaves: blocks moved only in part, file marks answered
// for ever, a block length it will not take, commands that must not wait
// without end.  Checked against the scripted transport.
#include <gtest/gtest.h>

#include <ostream>

#include "common/named_case.h"
#include "devices/recording_transport.h"

namespace vx {
namespace {

using test::CheckCondition;
using test::Good;
using test::GoodWithResidue;
using test::OpenScriptedTape;
using test::TDeviceScript;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLen = 64;

std::shared_ptr<TDeviceScript> Drive() { return std::make_shared<TDeviceScript>(); }

struct ReadCase {
  const char* name;
  TScsiResult answer;
  std::size_t bytesGiven;  // what the drive copies into the buffer
  int result;
  std::uint32_t count;
};

// Test names and failure messages show the case by its name.
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class TapeRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TapeRead, HandsOnOnlyTheBytesTheDriveDelivered) {
  const ReadCase& c = GetParam();
  auto drive = Drive();
  auto tape = OpenScriptedTape(drive);
  drive->Answer(c.answer, Bytes(c.bytesGiven, 0xAB));
  Bytes buf(kLen, 0xEE);  // stale bytes of an earlier block
  std::uint32_t got = 12345;
  EXPECT_EQ(tape->ReadBlock(buf.data(), kLen, got), c.result);
  EXPECT_EQ(got, c.count);
  Bytes expected(kLen, 0);
  std::fill_n(expected.begin(), c.count, 0xAB);
  EXPECT_EQ(buf, expected) << "bytes the drive did not deliver must not be handed on";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TapeRead,
    ::testing::Values(ReadCase{"WholeBlock", Good(), kLen, 0, kLen},
                      ReadCase{"PartlyFilled", GoodWithResidue(24), kLen - 24,
                               TSCSITape::kPartialBlock, kLen - 24},
                      ReadCase{"ResidueBeyondTheBlock", GoodWithResidue(kLen * 2), 0,
                               TSCSITape::kPartialBlock, 0},
                      ReadCase{"BlankCheck", CheckCondition(0x08), 0, 0x08, 0},
                      ReadCase{"ShortBlockIndicated", CheckCondition(0x20), 10, 0x20, 0},
                      ReadCase{"TransportFailed", TScsiResult{}, 0, 9, 0}),
    vx::test::TCaseName());

TEST(TapeWrite, BlockTakenOnlyInPartIsNotWritten) {
  auto drive = Drive();
  auto tape = OpenScriptedTape(drive);
  const Bytes block(kLen, 0x11);
  drive->Answer(GoodWithResidue(1));
  EXPECT_EQ(tape->WriteBlock(block.data(), kLen), TSCSITape::kPartialBlock);
  drive->Answer(Good());
  EXPECT_EQ(tape->WriteBlock(block.data(), kLen), 0);
}

struct RepeatCase {
  const char* name;
  int (*command)(TSCSITape&);
};

// Test names and failure messages show the case by its name.
void PrintTo(const RepeatCase& c, std::ostream* os) { *os << c.name; }

class TapeRepeats : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(TapeRepeats, FileMarkAnsweredForEverEndsAfterBoundedRepeats) {
  auto drive = Drive();
  auto tape = OpenScriptedTape(drive);
  for (int i = 0; i < 1000; ++i) drive->Answer(CheckCondition(0x80));
  EXPECT_EQ(GetParam().command(*tape), 0x80);
  EXPECT_EQ(drive->Commands.size(), static_cast<std::size_t>(TSCSITape::kMaxFilemarkRepeats) + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TapeRepeats,
    ::testing::Values(RepeatCase{"Read",
                                 [](TSCSITape& t) {
                                   Bytes b(kLen);
                                   std::uint32_t got = 0;
                                   return t.ReadBlock(b.data(), kLen, got);
                                 }},
                      RepeatCase{"Space", [](TSCSITape& t) { return t.SkipFilemarks(1); }}),
    vx::test::TCaseName());

TEST(TapeBlockSize, RefusalOfAnyKindIsAnError) {
  for (const TScsiResult& answer : {CheckCondition(0x02), CheckCondition(0x08), TScsiResult{}}) {
    auto drive = Drive();
    auto tape = OpenScriptedTape(drive);
    drive->Answer(answer);
    EXPECT_THROW(tape->SetBlockSize(32768), TP_TapeException)
        << "answer " << static_cast<int>(answer.Outcome);
  }
  // The block length of Open itself.
  auto drive = Drive();
  drive->Answer(Good());                // TEST UNIT READY
  drive->Answer(CheckCondition(0x02));  // MODE SELECT: not ready
  TSCSITape tape(test::ScriptedAspi({drive}));
  EXPECT_THROW(tape.Open(), TP_TapeException);
}

TEST(TapeTimeouts, EveryCommandHasOneAndWindingOnesTheLongest) {
  auto drive = Drive();
  auto tape = OpenScriptedTape(drive);
  Bytes block(kLen);
  std::uint32_t got = 0;
  tape->WriteBlock(block.data(), kLen);
  tape->ReadBlock(block.data(), kLen, got);
  tape->WriteFilemark();
  tape->FlushWrites();
  tape->SetBlockSize(32768);
  tape->SkipFilemarks(1);
  tape->Rewind(true);
  tape->Unload();
  ASSERT_EQ(drive->Commands.size(), 8u);
  unsigned shortest = ~0u;
  for (const auto& c : drive->Commands) {
    EXPECT_GT(c.TimeoutSeconds, 0u) << "opcode " << int(c.Cdb[0]);
    EXPECT_LE(c.TimeoutSeconds, 24u * 3600) << "opcode " << int(c.Cdb[0]);
    shortest = std::min(shortest, c.TimeoutSeconds);
  }
  // Rewind, space and unload wind the tape: they may take longest; a block
  // never gets that long.
  for (std::size_t windingCmd : {5u, 6u, 7u})
    EXPECT_GT(drive->Commands[windingCmd].TimeoutSeconds, drive->Commands[0].TimeoutSeconds);
  EXPECT_EQ(drive->Commands[4].TimeoutSeconds, shortest);  // MODE SELECT
}

}  // namespace
}  // namespace vx
