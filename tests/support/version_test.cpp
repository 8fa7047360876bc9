#include "support/version.h"

#include <gtest/gtest.h>

namespace vx {
namespace {

TEST(VersionInfo, EmptyUntilReadThenTheProgramsStrings) {
  // Each test runs in its own process under ctest, so nothing has read yet.
  for (int slot = 0; slot < VS_Count; ++slot) {
    EXPECT_TRUE(VersionString(static_cast<TVersionSlot>(slot)).empty());
  }
  ReadVersionInfo();
  EXPECT_EQ(VersionString(VS_FileDescription), "Vaultix");
  EXPECT_EQ(VersionString(VS_InternalName), "Velmora");
  EXPECT_EQ(VersionString(VS_FileVersion), "7.0.0.0");
  for (int slot = 0; slot < VS_Count; ++slot) {
    const std::string& s = VersionString(static_cast<TVersionSlot>(slot));
    EXPECT_FALSE(s.empty()) << slot;
    EXPECT_LE(s.size(), 50u) << slot;
  }
  EXPECT_TRUE(VersionString(VS_Count).empty());
}

}  // namespace
}  // namespace vx
