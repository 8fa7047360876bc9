#pragma once
// The platform layer's own texts.
// They are used verbatim: odd spellings, missing apostrophes, blanks and
// punctuation included.  Do not correct them; users, scripts, logs and tests
// know them as they are.  This is the one place of the layer where a
// translation would hook in.

namespace vx::txt::platform {

inline constexpr char kCannotCreateTemp[] = "cannot create a temporary file in ";

}  // namespace vx::txt::platform
