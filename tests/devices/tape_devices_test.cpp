// Which devices the tape drive is looked for on, and how raw sense data are read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "common/error_of.h"
#include "common/files.h"
#include "common/temp_folder.h"
#include "devices/scsi_tape.h"
#include "devices/scsi_transport.h"

namespace vx {
namespace {

using Bytes = std::vector<std::uint8_t>;

int Byte2(const Bytes& b) { return SenseByte2(b.data(), b.size()); }

TEST(TapeSense, FixedFormatGivesByteTwoAsItIs) {
  EXPECT_EQ(Byte2({0x70, 0x00, 0x80, 0, 0, 0, 1, 0x0A}), 0x80);
  EXPECT_EQ(Byte2({0xF0, 0x00, 0x4D}), 0x4D);  // valid bit set
  EXPECT_EQ(Byte2({0x71, 0x00, 0x03}), 0x03);  // deferred error
  EXPECT_EQ(Byte2({0x70, 0x00}), -1);
  EXPECT_EQ(Byte2({}), -1);
  EXPECT_EQ(Byte2({0x00, 0x00, 0x03}), -1);  // no sense data at all
  EXPECT_EQ(SenseByte2(nullptr, 18), -1);
}

TEST(TapeSense, DescriptorFormatTakesKeyAndStreamBits) {
  // Key 0, stream-commands descriptor with the filemark bit.
  EXPECT_EQ(Byte2({0x72, 0x00, 0x00, 0x01, 0, 0, 0, 4, 0x04, 0x02, 0x00, 0x80}), 0x80);
  // Key 0x0D with EOM, after an information descriptor.
  EXPECT_EQ(Byte2({0x72, 0x0D, 0x00, 0x02, 0, 0, 0, 16, 0x00, 0x0A, 0x80, 0,
                   0,    0,    0,    0,    0, 0, 0, 5,  0x04, 0x02, 0x00, 0x40}),
            0x4D);
  // Key only; a descriptor cut short by the additional length is not read.
  EXPECT_EQ(Byte2({0x73, 0x07, 0x27, 0x00, 0, 0, 0, 0, 0x04, 0x02, 0x00, 0x80}), 0x07);
  EXPECT_EQ(Byte2({0x72}), -1);
}

TEST(TapeDeviceList, EntriesAreSeparatedByCommasOrBlanksNotColons) {
  EXPECT_EQ(
      ParseTapeDeviceList("iscsi://127.0.0.1:3260/iqn.2026-01.x:tape/1, /dev/sg3\t/dev/sg4,,\n"),
      (std::vector<std::string>{"iscsi://127.0.0.1:3260/iqn.2026-01.x:tape/1", "/dev/sg3",
                                "/dev/sg4"}));
  EXPECT_TRUE(ParseTapeDeviceList(" , ").empty());
  EXPECT_TRUE(ParseTapeDeviceList("").empty());
}

TEST(TapeDeviceList, GenericNodesAreTakenInNumericOrder) {
  test::TTempFolder dir{"dev"};
  for (const char* n : {"sg10", "sg2", "sg0", "sga", "sda", "sg", "st0", "sg1x"})
    test::WriteFile(dir / n, "x");
  EXPECT_EQ(ScsiGenericNodes(dir.path()),
            (std::vector<std::string>{dir / "sg0", dir / "sg2", dir / "sg10"}));
  EXPECT_TRUE(ScsiGenericNodes(dir / "missing").empty());
}

// Sets VAULTIX_TAPE for one test and puts the old value back.
class TapeEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* v = std::getenv("VAULTIX_TAPE")) saved_ = v;
  }
  void TearDown() override {
    if (saved_)
      ::setenv("VAULTIX_TAPE", saved_->c_str(), 1);
    else
      ::unsetenv("VAULTIX_TAPE");
  }
  std::optional<std::string> saved_;
};

TEST_F(TapeEnvironment, AnEntryThatIsNoDeviceNorUrlIsRefused) {
  ::setenv("VAULTIX_TAPE", "/dev/sg0,tape0", 1);
  EXPECT_THAT(test::ErrorOf<TASPIException>([&] { TASPI32 aspi; }),
              ::testing::HasSubstr("\"tape0\""));
}

TEST_F(TapeEnvironment, NamedDevicesThatCannotBeOpenedLeaveNoAdapter) {
  ::setenv("VAULTIX_TAPE", "/nonexistent/sg7 /dev/null", 1);
  auto aspi = std::make_unique<TASPI32>();
  EXPECT_TRUE(aspi->Available());
  EXPECT_EQ(aspi->AdapterCount(), 0);
  ASSERT_EQ(aspi->OpenErrors().size(), 2u);
  EXPECT_NE(aspi->OpenErrors()[1].find("not a SCSI generic device"), std::string::npos);
  TSCSITape tape(std::move(aspi));
  EXPECT_EQ(tape.Open(), -2);
}

TEST_F(TapeEnvironment, UnreachableIscsiTargetCannotBeOpened) {
  // Port 1 on loopback: nothing listens there, the connection is refused.
  ::setenv("VAULTIX_TAPE", "iscsi://127.0.0.1:1/iqn.2026-01.test.vaultix:none/1", 1);
  TASPI32 aspi;
  EXPECT_EQ(aspi.AdapterCount(), 0);
  ASSERT_EQ(aspi.OpenErrors().size(), 1u);
  std::string error;
  EXPECT_EQ(OpenIscsiTransport("iscsi://no-lun-here", error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vx
