// The archive stream on the tape drive: how the drive is opened, what the
// blocks and file marks on tape look like, and how failures of the drive end
// an operation.  Runs against tgt's virtual tape over iSCSI on loopback.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "archive/errors.h"
#include "common/error_of.h"
#include "common/temp_folder.h"
#include "common/tgt_target.h"
#include "devices/scsi_tape.h"
#include "engine/destinations.h"

namespace vx {
namespace {

using test::TTgtTarget;

// Points VAULTIX_TAPE at the given devices for the life of the object.
// Points the engine at a tape device for one scope (nullptr: none set).
struct TTapeEnv : test::TScopedEnv {
  explicit TTapeEnv(const std::string& device) : TScopedEnv("VAULTIX_TAPE", device) {}
  explicit TTapeEnv(std::nullptr_t) : TScopedEnv("VAULTIX_TAPE", nullptr) {}
};

std::string OpenError(TStreamMode mode = TStreamMode::Write) {
  try {
    OpenTapeDestination(mode);
  } catch (const EVX_TapeError& e) {
    return std::string("tape: ") + e.what();
  } catch (const EVX_CreateStreamError& e) {
    return std::string("create: ") + e.what();
  }
  return "opened";
}

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t first) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first ^ (i * 13 + i / 251));
  return v;
}

std::string Kinds(const std::vector<TTgtTarget::TEntry>& entries) {
  std::string s;
  for (const auto& e : entries) s += e.Kind;
  return s;
}

TEST(TapeDestinationOpen, EachMissingPieceHasItsMessage) {
  {
    TTapeEnv env(std::string("/nonexistent/sg3"));
    EXPECT_EQ(OpenError(), "tape: SCSI host adapter nenájdený");
  }
  {
    TTapeEnv env(std::string("tape0"));
    EXPECT_EQ(OpenError(), "create: nedá sa vytvoriť záložný súbor");
  }
  if (ScsiGenericNodes().empty()) {
    TTapeEnv env(nullptr);
    EXPECT_EQ(OpenError(), "tape: ASPI-Manager nenájdený");
  }
}

class TapeStream : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tgt_.Ready()) << tgt_.Error(); }

  std::unique_ptr<TArchiveStream> Open(TStreamMode mode) {
    return std::make_unique<TArchiveStream>(mode, OpenTapeDestination(mode));
  }

  TTgtTarget tgt_{16};
  TTapeEnv env_{tgt_.Url()};
};

TEST_F(TapeStream, DiskLunIsNoTapeDrive) {
  ASSERT_TRUE(tgt_.AddDiskLun(2, 1));
  TTapeEnv env(tgt_.Url(2));
  EXPECT_EQ(OpenError(), "tape: Žiadne SCSI páskové zariadenie");
}

TEST_F(TapeStream, DriveWithoutTapeCannotBeOpened) {
  ASSERT_TRUE(tgt_.SetParams("online=0"));
  EXPECT_EQ(OpenError(TStreamMode::Read), "tape: Iná chyba páskového zariadenia");
}

TEST_F(TapeStream, EachFileEndsAtABlockBoundaryFollowedByAMark) {
  const auto a = Pattern(40000, 1);  // fills one block and part of a second
  const auto b = Pattern(100, 2);
  {
    auto out = Open(TStreamMode::Write);
    ASSERT_TRUE(out->IsTape());
    out->WriteBytes(a.data(), a.size());
    out->FlushToBlockEnd();
    out->WriteTapeFileMark();
    out->WriteBytes(b.data(), b.size());
    out->FlushToBlockEnd();
    out->WriteTapeFileMark();
    out->FlushToBlockEnd();  // nothing pending: no empty block
    out->Close();
    EXPECT_EQ(out->Statistic.BytesWritten, 3 * 32768);
  }
  const auto contents = tgt_.TapeContents();
  EXPECT_EQ(Kinds(contents), "DDFDFE");
  for (const auto& e : contents)
    if (e.Kind == 'D') {
      EXPECT_EQ(e.Size, 32768);
    }

  // Reading: the end of a file's data ends the block, and the next read
  // passes the mark to the next file's first block.
  auto in = Open(TStreamMode::Read);
  std::vector<std::uint8_t> got(a.size());
  in->ReadBytes(got.data(), got.size());
  EXPECT_EQ(got, a);
  in->FlushToBlockEnd();
  got.resize(b.size());
  in->ReadBytes(got.data(), got.size());
  EXPECT_EQ(got, b);
  in->Close();
}

TEST_F(TapeStream, WriteProtectedTapeEndsTheWriteAsTapeError) {
  ASSERT_TRUE(tgt_.SetParams("readonly=1"));
  auto out = Open(TStreamMode::Write);
  // Nothing pending: the mark alone fails with its own message.
  EXPECT_EQ(test::ErrorOf<EVX_TapeError>([&] { out->WriteTapeFileMark(); }),
            "Chyba páskového zariadenia - chýba značka súboru");
  const auto data = Pattern(10, 3);
  out->WriteBytes(data.data(), data.size());
  EXPECT_EQ(test::ErrorOf<EVX_TapeError>([&] { out->FlushToBlockEnd(); }),
            "Write protection during write block");
}

TEST_F(TapeStream, ReadingPastTheDataIsATapeError) {
  {
    auto out = Open(TStreamMode::Write);
    const auto data = Pattern(10, 4);
    out->WriteBytes(data.data(), data.size());
    out->Close();  // the pending block and a flush
  }
  EXPECT_EQ(Kinds(tgt_.TapeContents()), "DE");
  auto in = Open(TStreamMode::Read);
  std::vector<std::uint8_t> got(32768);
  in->ReadBytes(got.data(), got.size());
  // A drive answers BLANK CHECK at the end of the data, which the tape layer
  // returns; tgt answers MEDIUM ERROR, which it raises.  Both end as tape
  // errors instead of handing on a block that was never read.
  EXPECT_EQ(test::ErrorOf<EVX_TapeError>([&] { in->ReadBytes(got.data(), 1); }),
            "Medium error during read block");
}

}  // namespace
}  // namespace vx
