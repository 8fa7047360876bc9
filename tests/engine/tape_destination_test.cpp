// The archive stream's tape destination over a scripted drive: what becomes
// a tape error, and that the closing flush survives a failed eject.
#include <gtest/gtest.h>

#include <ostream>

#include "archive/errors.h"
#include "common/named_case.h"
#include "devices/recording_transport.h"
#include "engine/destinations.h"

namespace vx {
namespace {

using test::CheckCondition;
using test::Good;
using test::GoodWithResidue;
using test::OpenScriptedTape;
using test::TDeviceScript;

constexpr std::size_t kBlock = 32768;
constexpr std::uint8_t kWriteFilemarks = 0x10;
constexpr std::uint8_t kUnload = 0x1B;

struct Fixture {
  std::shared_ptr<TDeviceScript> drive = std::make_shared<TDeviceScript>();
  std::unique_ptr<TArchiveDestination> dest = MakeTapeDestination(OpenScriptedTape(drive));

  // How many flushes (WRITE FILEMARKS with a count of 0) the drive saw.
  int Flushes() const {
    int n = 0;
    for (const auto& c : drive->Commands)
      if (c.Cdb[0] == kWriteFilemarks && c.Cdb[4] == 0) ++n;
    return n;
  }
};

struct EjectCase {
  const char* name;
  TScsiResult answer;
  bool ejectFails;
  int flushesAtClose;
};

// Test names and failure messages show the case by its name.
void PrintTo(const EjectCase& c, std::ostream* os) { *os << c.name; }

class TapeEject : public ::testing::TestWithParam<EjectCase> {};

TEST_P(TapeEject, FailedEjectIsAnErrorAndTheFlushStillFollows) {
  const EjectCase& c = GetParam();
  Fixture f;
  f.drive->Answer(c.answer);  // for LOAD/UNLOAD
  if (c.ejectFails)
    EXPECT_THROW(f.dest->Unload(), EVX_TapeError);
  else
    EXPECT_NO_THROW(f.dest->Unload());
  ASSERT_FALSE(f.drive->Commands.empty());
  EXPECT_EQ(f.drive->Commands.back().Cdb[0], kUnload);
  EXPECT_NO_THROW(f.dest->FinishWrite());
  EXPECT_EQ(f.Flushes(), c.flushesAtClose);
}

INSTANTIATE_TEST_SUITE_P(Answers, TapeEject,
                         ::testing::Values(EjectCase{"Done", Good(), false, 0},
                                           EjectCase{"NotReady", CheckCondition(0x02), true, 1},
                                           EjectCase{"TransportFailed", TScsiResult{}, true, 1},
                                           EjectCase{"MediumError", CheckCondition(0x03), true, 1}),
                         vx::test::TCaseName());

TEST(TapeDestinationBlocks, PartlyMovedBlockIsATapeError) {
  Fixture f;
  std::vector<std::uint8_t> block(kBlock, 0x33);
  f.drive->Answer(GoodWithResidue(kBlock / 2));
  EXPECT_THROW(f.dest->SendBlock(block.data(), kBlock), EVX_TapeError);
  f.drive->Answer(GoodWithResidue(1));
  EXPECT_THROW(f.dest->FetchBlock(block.data(), kBlock), EVX_TapeError);
  f.drive->Answer(Good());
  EXPECT_NO_THROW(f.dest->FetchBlock(block.data(), kBlock));
}

}  // namespace
}  // namespace vx
