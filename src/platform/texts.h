#pragma once
// The platform layer's own texts.
// They are used verbatim: odd spellings, missing apostrophes, blanks and
// punctuation included.  Do not correct them; users, scripts, logs and tests
// know them as they are.  This is the one place of the layer where a
// translation would hook in.

namespace vx::txt::platform {

inline constexpr char kCannotCreateTemp[] = "cannot create a temporary file in ";

// New: why a backup's destination folder is not created or not written to.
// "Cieľový priečinok <folder>" + one of the endings.
inline constexpr char kFolderOpen[] = "Cieľový priečinok ";
inline constexpr char kFolderNotCreatedAllow[] =
    " neexistuje a nevytvorí sa, lebo jeho vytvorenie nie je povolené";
inline constexpr char kFolderNotCreatedParent[] =
    " neexistuje a nevytvorí sa, lebo neexistuje ani priečinok nad ním";
// Between them the parent folder.
inline constexpr char kFolderNotCreatedNoDisk1[] = " neexistuje a nevytvorí sa, lebo ";
inline constexpr char kFolderNotCreatedNoDisk2[] =
    " je miesto pre pripojenie disku a žiadny disk v ňom nie je pripojený";
inline constexpr char kFolderNoDisk[] =
    " je miesto pre pripojenie disku a žiadny disk v ňom nie je pripojený";
inline constexpr char kFolderCannotCreate[] = " nemožno vytvoriť";

}  // namespace vx::txt::platform
