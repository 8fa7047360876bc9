// libFuzzer entry: any bytes read as a set is read by every operation, from
// a disk file through the archive stream into the archive reader: header,
// directory, every file's blocks, deciphered with the fuzz key when the
// header says encrypted and unpacked.  The input is padded to whole
// transfer blocks, as a backup writes its set.  Only the engine's own
// exceptions for a damaged set may come out, and ScanArchive turns those
// into codes; anything else aborts the run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_stream.h"
#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> padded(data, data + size);
  padded.resize((size + vx::kBlockSize - 1) / vx::kBlockSize * vx::kBlockSize);
  const std::string& path = vx::fuzz::InputFile().Write(padded.data(), padded.size());
  vx::TArchiveStream stream(vx::TStreamMode::Read, path, false, 0, false, nullptr);
  vx::TStreamByteSource source(stream);
  // Built once: setting them up costs more than reading a small archive.
  static vx::TBlockCodec codec;
  static vx::TBlowFish cipher;
  static const bool keyed = (cipher.SetKey("fuzzpassword"), true);
  (void)keyed;
  vx::ScanArchive(source, codec, cipher);
  stream.Close();
  return 0;
}
