// libFuzzer entry: any bytes as a profile (INI) file.  Reads sections and
// keys whose names come from the input itself, then writes one key into a
// section of its own and checks that it reads back and that another section
// read the same before and after.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input_file.h"
#include "platform/profile.h"

namespace {

// Names to look up: the text between the first "[" and "]" and before the
// first "=" of the input, plus fixed ones.
std::vector<std::string> NamesFrom(const std::string& text, char open, char close) {
  std::vector<std::string> names = {"VAULTRex", "", " "};
  const std::size_t a = text.find(open);
  const std::size_t b = text.find(close, a == std::string::npos ? 0 : a + 1);
  if (a != std::string::npos && b != std::string::npos)
    names.push_back(text.substr(a + 1, b - a - 1));
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string& file = vx::fuzz::InputFile().Write(data, size);
  std::vector<std::string> sections = NamesFrom(text, '[', ']');
  std::vector<std::string> keys = {"Magicnumber", "key", ""};
  if (const std::size_t eq = text.find('='); eq != std::string::npos) {
    const std::size_t start = text.rfind('\n', eq);
    keys.push_back(text.substr(start == std::string::npos ? 0 : start + 1,
                               eq - (start == std::string::npos ? 0 : start + 1)));
  }
  for (const auto& s : sections) {
    vx::GetProfileSection(file, s);
    for (const auto& k : keys) {
      vx::GetProfileString(file, s, k, "default");
      vx::GetProfileString(file, s, k, "default", 3);
    }
  }

  // A key written into a section of its own reads back, and leaves another
  // section as it was.
  const std::string own = "zz-fuzz-own";
  const auto before = vx::GetProfileSection(file, "VAULTRex");
  if (vx::GetProfileSection(file, own).empty() &&
      vx::WriteProfileString(file, own, "Written", "value 1")) {
    if (vx::GetProfileString(file, own, "Written", "") != "value 1") __builtin_trap();
    if (vx::GetProfileSection(file, "VAULTRex") != before) __builtin_trap();
  }
  return 0;
}
