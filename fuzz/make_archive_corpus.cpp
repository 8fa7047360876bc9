// Writes the starting corpus of fuzz_archive_reader: small intact archives of
// every kind (plain, compressed, encrypted with the fuzz key, empty files,
// a foreign file) and a few damaged ones, one followed by a whole file.
#include <cstdio>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "common/files.h"

using vx::test::BuildArchive;
using vx::test::NoiseData;
using vx::test::TextData;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  auto put = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
    vx::test::WriteBytes(dir + "/" + name, bytes);
  };
  put("empty-set", BuildArchive({}, 0, ""));
  put("plain", BuildArchive({{"/a.txt", TextData(300)}, {"/b", {}}}, 0, "", "plain"));
  put("quick", BuildArchive({{"/home/eva/t.txt", TextData(900)}}, 1, ""));
  put("max-two-blocks", BuildArchive({{"/big", TextData(33000)}}, 9, ""));
  put("encrypted", BuildArchive({{"/s", TextData(400)}, {"/n", NoiseData(77)}}, 9, "fuzzpassword"));
  put("encrypted-raw", BuildArchive({{"/r", NoiseData(13)}}, 0, "fuzzpassword"));
  auto bad = BuildArchive({{"/x", TextData(500)}}, 9, "");
  bad[263 + 4 + 277 + 10 + 5] ^= 0x40;
  put("bad-zip", bad);
  // A block that does not unpack, then a whole file: the reader goes on at
  // the second file.
  auto resync = BuildArchive({{"/x", TextData(500)}, {"/y", TextData(300)}}, 9, "");
  resync[263 + 4 + 2 * 277 + 10 + 5] ^= 0x40;
  put("bad-zip-then-whole", resync);
  auto foreign = BuildArchive({}, 0, "");
  foreign[0] = 'P';
  put("foreign", foreign);
  auto neg = BuildArchive({{"/x", {}}}, 0, "");
  neg[266] = 0xFF;
  put("negative-count", neg);
  return 0;
}
