// libFuzzer entry: any bytes as the desktop program's job file (.sqt), read
// as the wizard reads it.  The only failure LoadJobFile may let out is its
// std::runtime_error for a file that is no job file, and such a file must
// leave the page as it was.  A file that loads must keep the lists it
// appended to and give the choices values within their ranges.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "engine/wizard_job.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& file = vx::fuzz::InputFile().Write(data, size);
  vx::TBackupPage page;
  page.Include = {"/kept/include"};
  page.Exclude = {"/kept/exclude"};
  const vx::TBackupPage before = page;
  try {
    vx::LoadJobFile(file, page);
  } catch (const std::runtime_error&) {
    // a file that is no job file changes nothing
    if (page.Include != before.Include || page.Exclude != before.Exclude ||
        page.Location != before.Location || page.BaseName != before.BaseName ||
        page.Mode != before.Mode || page.Compression != before.Compression ||
        page.Password != before.Password || page.Comment != before.Comment) {
      std::abort();
    }
    return 0;
  }
  if (page.Include.empty() || page.Include.front() != before.Include.front()) std::abort();
  if (page.Exclude.empty() || page.Exclude.front() != before.Exclude.front()) std::abort();
  if (page.Mode < 0 || page.Mode > 3) std::abort();
  if (page.Compression < 0 || page.Compression > 2) std::abort();
  return 0;
}
