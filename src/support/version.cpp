#include "support/version.h"

#include <array>

#include "support/version_number.h"

namespace vx {

namespace {

constexpr std::size_t kSlotLength = 50;

// The program's own version information.
constexpr std::array<const char*, VS_Count> kVersionInfo = {
    "Zarel",                // CompanyName
    "Vaultix",              // FileDescription
    VX_VERSION_FOUR_PART,   // FileVersion
    "Velmora",              // InternalName
    "Copyright (C) Zarel",  // LegalCopyright
    "vaultix",              // OriginalFilename
    "Vaultix",              // ProductName
    VX_VERSION_FOUR_PART,   // ProductVersion
};

std::array<std::string, VS_Count>& Slots() {
  static std::array<std::string, VS_Count> slots;
  return slots;
}

}  // namespace

void ReadVersionInfo() {
  auto& slots = Slots();
  for (std::size_t i = 0; i < slots.size(); ++i) {
    slots[i] = std::string(kVersionInfo[i]).substr(0, kSlotLength);
  }
}

const std::string& VersionString(TVersionSlot slot) {
  static const std::string empty;
  if (slot < 0 || slot >= VS_Count) return empty;
  return Slots()[static_cast<std::size_t>(slot)];
}

}  // namespace vx
