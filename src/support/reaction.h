#pragma once
#include <cstdint>

namespace vx {

// The answer to every question the engine asks its caller.  What each value
// means depends on the question (see the engine's events).
enum TReaction : std::uint8_t { AW_RETRY, AW_IGNORE, AW_ABORT };

}  // namespace vx
