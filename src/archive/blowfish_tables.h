#pragma once
// The Blowfish initial values: the hexadecimal digits of pi.
#include <cstdint>

namespace vx {

extern const std::uint32_t kBlowfishInitP[18];
extern const std::uint32_t kBlowfishInitS[4][256];

}  // namespace vx
