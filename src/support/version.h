#pragma once
// The program's eight version strings, compiled in.
#include <string>

namespace vx {

enum TVersionSlot {
  VS_CompanyName,
  VS_FileDescription,
  VS_FileVersion,
  VS_InternalName,
  VS_LegalCopyright,
  VS_OriginalFilename,
  VS_ProductName,
  VS_ProductVersion,
  VS_Count
};

// Fills the slots; called once at start-up.  Each value is cut to 50 characters.
void ReadVersionInfo();
// A slot's value; empty before ReadVersionInfo.
const std::string& VersionString(TVersionSlot slot);

}  // namespace vx
