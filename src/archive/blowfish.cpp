// TBlowFish: the Blowfish key schedule and block transformation (64-bit
// blocks, 16 rounds, halves read big-endian).
#include <string.h>

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
