// libFuzzer entry: any bytes through the strict archive reader (header,
// directory, every file's blocks, decoded with the fuzz key when the header
// says encrypted).  Only the engine's own exceptions may come out, and those
// are caught inside ScanArchiveBytes; anything else aborts the run.
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vx::ScanArchiveBytes(data, size, "fuzzpassword");
  return 0;
}
