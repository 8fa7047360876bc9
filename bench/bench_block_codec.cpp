// Throughput of one 32,768-byte data block through TBlockCodec: compression
// none/quick/max, with and without Blowfish, on text-like and random data.
// Arguments: level (0, 1, 9), encrypted (0, 1), data (0 text, 1 random).
// Beside them the machine's own limits: quick packing on one and on two
// threads at once, the files' checksum, and copying memory far larger than
// the caches.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"
#include "support/utils.h"

namespace {

// Text with a realistic mix of words, numbers and line breaks.
std::vector<std::uint8_t> TextLike(std::size_t n) {
  static const char* words[] = {"the",        "backup",  "of",      "file",     "folder", "report",
                                "2026",       "invoice", "total:",  "customer", "and",    "volume",
                                "data",       "=",       "archive", "line",     "12.50",  "EUR",
                                "Bratislava", "config",  "value",   "true"};
  std::vector<std::uint8_t> out;
  std::uint32_t x = 2463534242u;
  while (out.size() < n) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    const char* w = words[x % (sizeof words / sizeof *words)];
    for (const char* p = w; *p && out.size() < n; ++p) out.push_back(static_cast<std::uint8_t>(*p));
    if (out.size() < n) out.push_back((x >> 8) % 11 == 0 ? '\n' : ' ');
  }
  return out;
}

std::vector<std::uint8_t> Random(std::size_t n) {
  std::vector<std::uint8_t> out(n);
  std::uint64_t x = 88172645463325252ull;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<std::uint8_t>(x >> 32);
  }
  return out;
}

std::vector<std::uint8_t> Sample(std::int64_t kind) {
  return kind == 0 ? TextLike(vx::kBlockSize) : Random(vx::kBlockSize);
}

void BM_Encode(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  const bool encrypt = state.range(1) != 0;
  const auto raw = Sample(state.range(2));
  vx::TBlockCodec codec;
  vx::TBlowFish cipher;
  cipher.SetKey("benchmark-password");
  std::size_t len = 0;
  for (auto _ : state) {
    const std::uint8_t* out =
        codec.Encode(raw.data(), raw.size(), level, encrypt ? &cipher : nullptr, len);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw.size()));
  state.counters["stored%"] =
      100.0 * static_cast<double>(len - vx::kBlockHeaderSize) / static_cast<double>(raw.size());
}

void BM_Decode(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  const bool encrypt = state.range(1) != 0;
  const auto raw = Sample(state.range(2));
  vx::TBlockCodec writer, reader;
  vx::TBlowFish cipher;
  cipher.SetKey("benchmark-password");
  std::size_t len = 0;
  vx::TBlockHeader header;
  const std::uint8_t* block =
      writer.Encode(raw.data(), raw.size(), level, encrypt ? &cipher : nullptr, len, &header);
  const std::vector<std::uint8_t> stored(block + vx::kBlockHeaderSize, block + len);
  for (auto _ : state) {
    const std::uint8_t* out =
        reader.Decode(header, stored.data(), stored.size(), encrypt ? &cipher : nullptr);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw.size()));
}

void Args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"level", "encrypted", "random"});
  for (int level : {0, 1, 9})
    for (int encrypted : {0, 1})
      for (int random : {0, 1}) b->Args({level, encrypted, random});
}

void BM_FileChecksum(benchmark::State& state) {
  const auto raw = Sample(0);
  std::uint32_t reg = vx::kCrcInit;
  for (auto _ : state) {
    reg = vx::CrcUpdate(reg, raw.data(), raw.size());
    benchmark::DoNotOptimize(reg);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(raw.size()));
}

// Memory bandwidth: one copy of 256 MiB (read and written once each).
void BM_MemoryCopy(benchmark::State& state) {
  constexpr std::size_t kBytes = std::size_t{256} << 20;
  std::vector<std::uint8_t> from(kBytes, 1), to(kBytes, 2);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBytes));
}

}  // namespace

BENCHMARK(BM_Encode)->Apply(Args);
BENCHMARK(BM_Decode)->Apply(Args);
// Quick packing of text on one and two threads at once (the bytes of every
// thread counted together): how far two cores can go.
BENCHMARK(BM_Encode)->Args({1, 0, 0})->Args({1, 1, 0})->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Decode)->Args({1, 0, 0})->Args({1, 1, 0})->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_FileChecksum);
BENCHMARK(BM_MemoryCopy)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
