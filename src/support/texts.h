#pragma once
// The support layer's own texts (messages of the log file and of the file
// routines).
// They are used verbatim: odd spellings, missing apostrophes, blanks and
// punctuation included.  Do not correct them; users, scripts, logs and tests
// know them as they are.  This is the one place of the layer where a
// translation would hook in.

namespace vx::txt::support {

inline constexpr char kCannotRead[] = "cannot read ";
inline constexpr char kCannotWrite[] = "cannot write ";
inline constexpr char kCannotOpen[] = "cannot open ";
inline constexpr char kCannotCreate[] = "cannot create ";
inline constexpr char kCannotClose[] = "cannot close ";
inline constexpr char kCannotCopy[] = "cannot copy ";
inline constexpr char kTheLog[] = "the log ";
inline constexpr char kIsNotRegular[] = " is not a regular file";
inline constexpr char kCannotCreateCopy[] = "cannot create a temporary copy of ";
inline constexpr char kCannotOpenCopy[] = "cannot open the temporary copy of ";

}  // namespace vx::txt::support
