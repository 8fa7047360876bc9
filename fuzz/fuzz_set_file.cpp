// libFuzzer entry: any bytes as a set file, read as the command line reads
// it: read once, LoadSet, then the keys that only the command line reads.  Only the
// documented failures may come out: a file that is no set file
// (std::runtime_error from LoadSet) and a bad extra key (ECliSetting).
#include <cstddef>
#include <cstdint>

#include "cli/configure.h"
#include "engine/vaultrex.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static vx::TVaultrex engine;
  const std::string& file = vx::fuzz::InputFile().Write(data, size);
  vx::TProfile set;
  try {
    set = vx::ReadSetFile(file);
    engine.LoadSet(set);
  } catch (const std::runtime_error&) {
    return 0;  // not a set file
  }
  try {
    vx::ReadSetExtras(set);
  } catch (const vx::ECliSetting&) {
  }
  return 0;
}
