// Archive size of a folder with the codec's incompressibility check against
// packing every block: every regular file below FOLDER is cut into
// 32,768-byte blocks as a backup cuts it, each block encoded both ways at
// LEVEL (1 quick, 9 maximal), and the stored bytes (block headers included)
// summed.  Prints both sizes, their difference and the time each way took;
// exits 1 when the check makes the data more than LIMIT percent larger.
//
// usage: shortcut_size FOLDER [LEVEL [LIMIT]]      (defaults 1 and 0.1)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "archive/block_codec.h"
#include "archive/format.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [LEVEL [LIMIT]]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const int level = argc > 2 ? std::atoi(argv[2]) : 1;
  const double limit = argc > 3 ? std::atof(argv[3]) : 0.1;

  vx::TBlockCodec checked, packed;
  packed.PackEveryBlock(true);
  std::uint64_t raw = 0, withCheck = 0, everyBlock = 0, blocks = 0, files = 0;
  std::chrono::duration<double> checkedTime{0}, packedTime{0};
  std::vector<char> block(vx::kBlockSize);
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    ++files;
    std::ifstream in(e.path(), std::ios::binary);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
      const auto n = static_cast<std::size_t>(in.gcount());
      const auto* p = reinterpret_cast<const std::uint8_t*>(block.data());
      std::size_t len = 0;
      auto t0 = std::chrono::steady_clock::now();
      checked.Encode(p, n, level, nullptr, len);
      auto t1 = std::chrono::steady_clock::now();
      withCheck += len;
      packed.Encode(p, n, level, nullptr, len);
      auto t2 = std::chrono::steady_clock::now();
      everyBlock += len;
      checkedTime += t1 - t0;
      packedTime += t2 - t1;
      raw += n;
      ++blocks;
    }
  }
  const double diff =
      everyBlock == 0 ? 0.0
                      : 100.0 * (static_cast<double>(withCheck) - static_cast<double>(everyBlock)) /
                            static_cast<double>(everyBlock);
  std::printf("folder %s: %llu files, %llu blocks, %llu bytes, level %d\n", folder.c_str(),
              static_cast<unsigned long long>(files), static_cast<unsigned long long>(blocks),
              static_cast<unsigned long long>(raw), level);
  std::printf("with the check     %14llu bytes stored  %7.2f s\n",
              static_cast<unsigned long long>(withCheck), checkedTime.count());
  std::printf("packing every block %13llu bytes stored  %7.2f s\n",
              static_cast<unsigned long long>(everyBlock), packedTime.count());
  std::printf("difference %+.4f %% (limit %.2f %%)\n", diff, limit);
  return diff <= limit ? 0 : 1;
}
