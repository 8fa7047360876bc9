// TBlowFish: the Blowfish key schedule and block transformation (64-bit
// blocks, 16 rounds, halves read big-endian).
#include <string.h>

#include <cstring>

#include "archive/blowfish_tables.h"
#include "archive/crypto.h"

namespace vx {
namespace {

constexpr std::size_t kMinKey = 8;
constexpr std::size_t kMaxKey = 65;

std::uint32_t GetBE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

void PutBE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

TBlowFish::TBlowFish() { blockSize_ = 8; }

TBlowFish::~TBlowFish() {
  explicit_bzero(p_.data(), sizeof p_);
  explicit_bzero(s_.data(), sizeof s_);
}

#define VX_BF_F(x) \
  (((s_[0][(x) >> 24] + s_[1][((x) >> 16) & 0xFF]) ^ s_[2][((x) >> 8) & 0xFF]) + s_[3][(x)&0xFF])

void TBlowFish::EncipherBlock(std::uint8_t block[8]) {
  std::uint32_t l = GetBE(block), r = GetBE(block + 4);
  l ^= p_[0];
  for (int i = 1; i <= 16; i += 2) {
    r ^= VX_BF_F(l) ^ p_[i];
    l ^= VX_BF_F(r) ^ p_[i + 1];
  }
  r ^= p_[17];
  PutBE(block, r);
  PutBE(block + 4, l);
}

void TBlowFish::DecipherBlock(std::uint8_t block[8]) {
  std::uint32_t l = GetBE(block), r = GetBE(block + 4);
  l ^= p_[17];
  for (int i = 16; i >= 1; i -= 2) {
    r ^= VX_BF_F(l) ^ p_[i];
    l ^= VX_BF_F(r) ^ p_[i - 1];
  }
  r ^= p_[0];
  PutBE(block, r);
  PutBE(block + 4, l);
}

#undef VX_BF_F

namespace {

using TBoxes = std::array<std::array<std::uint32_t, 256>, 4>;

// The bulk transformation: four independent blocks go through each round
// together, so that the table look-ups of one block overlap those of the
// others.  Each block's halves are plain scalars (an array of halves would
// be vectorised by the compiler into shuffles that cost more than they
// save).  Encrypt: P[0] before, P[1..16] in the rounds, P[17] after;
// decrypt the other way round.
inline std::uint32_t F(const TBoxes& s, std::uint32_t x) {
  return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
}

inline void Load(const std::uint8_t* in, std::uint32_t& l, std::uint32_t& r) {
  std::uint64_t v;
  std::memcpy(&v, in, 8);
  v = __builtin_bswap64(v);
  l = static_cast<std::uint32_t>(v >> 32);
  r = static_cast<std::uint32_t>(v);
}

// The output block is the right half, then the left, both big-endian.
inline void Store(std::uint8_t* out, std::uint32_t r, std::uint32_t l) {
  const std::uint64_t v =
      __builtin_bswap64(static_cast<std::uint64_t>(r) << 32 | static_cast<std::uint64_t>(l));
  std::memcpy(out, &v, 8);
}

template <bool Encrypt>
constexpr int Key(int i) {
  return Encrypt ? i : 17 - i;
}

template <bool Encrypt>
void BulkRun(const std::uint32_t* p, const TBoxes& s, const std::uint8_t* in, std::uint8_t* out,
             std::size_t blocks) {
  std::size_t b = 0;
  for (; b + 4 <= blocks; b += 4) {
    std::uint32_t l0, r0, l1, r1, l2, r2, l3, r3;
    Load(in + 8 * b, l0, r0);
    Load(in + 8 * b + 8, l1, r1);
    Load(in + 8 * b + 16, l2, r2);
    Load(in + 8 * b + 24, l3, r3);
    const std::uint32_t first = p[Key<Encrypt>(0)];
    l0 ^= first;
    l1 ^= first;
    l2 ^= first;
    l3 ^= first;
#pragma GCC unroll 8
    for (int i = 1; i <= 16; i += 2) {
      const std::uint32_t k1 = p[Key<Encrypt>(i)], k2 = p[Key<Encrypt>(i + 1)];
      r0 ^= F(s, l0) ^ k1;
      r1 ^= F(s, l1) ^ k1;
      r2 ^= F(s, l2) ^ k1;
      r3 ^= F(s, l3) ^ k1;
      l0 ^= F(s, r0) ^ k2;
      l1 ^= F(s, r1) ^ k2;
      l2 ^= F(s, r2) ^ k2;
      l3 ^= F(s, r3) ^ k2;
    }
    const std::uint32_t last = p[Key<Encrypt>(17)];
    Store(out + 8 * b, r0 ^ last, l0);
    Store(out + 8 * b + 8, r1 ^ last, l1);
    Store(out + 8 * b + 16, r2 ^ last, l2);
    Store(out + 8 * b + 24, r3 ^ last, l3);
  }
  for (; b < blocks; ++b) {
    std::uint32_t l, r;
    Load(in + 8 * b, l, r);
    l ^= p[Key<Encrypt>(0)];
#pragma GCC unroll 8
    for (int i = 1; i <= 16; i += 2) {
      r ^= F(s, l) ^ p[Key<Encrypt>(i)];
      l ^= F(s, r) ^ p[Key<Encrypt>(i + 1)];
    }
    Store(out + 8 * b, r ^ p[Key<Encrypt>(17)], l);
  }
}

}  // namespace

void TBlowFish::EcbBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                          bool encrypt) {
  if (encrypt)
    BulkRun<true>(p_.data(), s_, in, out, blocks);
  else
    BulkRun<false>(p_.data(), s_, in, out, blocks);
}

void TBlowFish::SetupKey() {
  for (std::size_t i = 0; i < 18; ++i) p_[i] = kBlowfishInitP[i];
  for (std::size_t b = 0; b < 4; ++b)
    for (std::size_t i = 0; i < 256; ++i) s_[b][i] = kBlowfishInitS[b][i];

  // A key outside 8..65 bytes is ignored: the cipher runs with the unkeyed
  // tables.
  const std::size_t len = key_.size();
  if (len < kMinKey || len > kMaxKey) return;

  const auto* k = reinterpret_cast<const std::uint8_t*>(key_.data());
  std::size_t j = 0;
  for (std::size_t i = 0; i < 18; ++i) {
    std::uint32_t word = 0;
    for (int n = 0; n < 4; ++n) {
      word = word << 8 | k[j];
      j = (j + 1) % len;
    }
    p_[i] ^= word;
  }
  std::uint8_t block[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < 18; i += 2) {
    EncipherBlock(block);
    p_[i] = GetBE(block);
    p_[i + 1] = GetBE(block + 4);
  }
  for (std::size_t b = 0; b < 4; ++b) {
    for (std::size_t i = 0; i < 256; i += 2) {
      EncipherBlock(block);
      s_[b][i] = GetBE(block);
      s_[b][i + 1] = GetBE(block + 4);
    }
  }
  explicit_bzero(block, sizeof block);
}

}  // namespace vx
