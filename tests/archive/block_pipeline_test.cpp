// The ordered parallel encoder: whatever the number of workers, jobs come
// back in the order they were submitted, markers in their place, each block
// encoded exactly as one codec alone encodes it.
#include "archive/block_pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "archive/crypto.h"
#include "common/files.h"

namespace vx {
namespace {

// Workers and jobs under way: a ring smaller than the wake-up batch (the
// workers start only when the caller waits) and one larger (they are woken
// by the submissions, and the caller waits for runs of jobs).
struct TPipelineShape {
  int workers;
  std::size_t depth;
};
void PrintTo(const TPipelineShape& c, std::ostream* os) {
  *os << c.workers << " workers, " << c.depth << " jobs";
}

class BlockPipelineOrder : public ::testing::TestWithParam<TPipelineShape> {};

TEST_P(BlockPipelineOrder, JobsReturnInOrderEncodedAsByOneCodec) {
  TBlockEncoding encoding;
  encoding.level = 1;
  encoding.key = "tajné heslo";
  encoding.verify = true;
  // Fewer jobs than blocks: the ring wraps.
  TBlockPipeline pipeline(encoding, GetParam().workers, GetParam().depth);

  // Blocks of every kind, with a marker after every third one.
  std::vector<std::vector<std::uint8_t>> blocks;
  for (std::size_t i = 0; i < 160; ++i) {
    blocks.push_back(i % 2 == 0 ? vx::test::NoiseData(1 + i * 811 % kBlockSize, i + 1)
                                : vx::test::TextData(1 + i * 977 % kBlockSize));
  }
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey(encoding.key);
  std::vector<std::string> expected;
  std::vector<std::string> got;
  auto takeBack = [&](bool wait) {
    while (TBlockPipeline::TJob* job = pipeline.Oldest(wait)) {
      ASSERT_FALSE(job->error);
      EXPECT_TRUE(job->matches);
      got.push_back(job->marker ? "marker " + std::to_string(job->tag)
                                : std::string(reinterpret_cast<const char*>(job->encoded.data()),
                                              job->encodedLength));
      pipeline.Release();
      wait = false;
    }
  };
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    std::size_t len = 0;
    const std::uint8_t* out = codec.Encode(blocks[i].data(), blocks[i].size(), 1, &cipher, len);
    expected.emplace_back(reinterpret_cast<const char*>(out), len);
    while (pipeline.Free() == nullptr) takeBack(true);
    TBlockPipeline::TJob* job = pipeline.Free();
    std::memcpy(job->raw.data(), blocks[i].data(), blocks[i].size());
    job->rawLength = blocks[i].size();
    pipeline.Submit(false, i);
    if (i % 3 == 2) {
      expected.push_back("marker " + std::to_string(i));
      while (pipeline.Free() == nullptr) takeBack(true);
      pipeline.Submit(true, i);
    }
    takeBack(false);
  }
  while (pipeline.Pending()) takeBack(true);
  EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Workers, BlockPipelineOrder,
                         ::testing::Values(TPipelineShape{0, 4}, TPipelineShape{1, 4},
                                           TPipelineShape{3, 4}, TPipelineShape{2, 48},
                                           TPipelineShape{3, 64}));

}  // namespace
}  // namespace vx
