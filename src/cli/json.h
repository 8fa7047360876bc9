#pragma once
// One-line JSON records of `catalog --json` and `verify --json`, for scripts
// and monitoring: one object per line, nothing else on standard output.
#include <string>

#include "archive/format.h"
#include "engine/vaultrex.h"

namespace vx {

// A JSON string literal (with its quotes) of a stored path.  Paths are bytes:
// valid UTF-8 stays as it is (", \ and control characters escaped); each byte
// that is not part of valid UTF-8 is written \u00XX, the code point of that
// byte.  JsonIsPlainUtf8 says whether that happened, so that a reader can
// tell the bytes apart from a real U+0080..U+00FF.
std::string JsonString(const std::string& bytes);
bool JsonIsPlainUtf8(const std::string& bytes);

// {"size":N,"crc":"89ABCDEF","attributes":N,"time":"yyyy-mm-ddThh:nn:ss","path":"..."}
// plus "path_hex":"..." (the path's bytes in hex) when the path is not valid
// UTF-8.  The time is local, as stored.
std::string FormatCatalogJson(const TDirRecord& record);

// {"path":"...","result":"ok"|"missing"|"different"|"failed"} (and "path_hex"
// as above).
std::string FormatVerifyJson(const std::string& path, TVaultrex::TVerifyOutcome outcome);

// {"path":"...","metadata":"mode"|"owner"|"link"|"time"}: an item whose
// metadata differ from the set's (one line per kind).
std::string FormatMetaDifferenceJson(const std::string& path, TVaultrex::TMetaDifference what);

// The last line of `verify --json`: how many files had each outcome, how
// many items differ in each kind of metadata, and the run's exit code:
// {"summary":true,"files":N,"ok":N,"missing":N,"different":N,"failed":N,
// "mode_differs":N,"owner_differs":N,"link_differs":N,"time_differs":N,
// "exit":N}.
struct TVerifyTally {
  int ok = 0, missing = 0, different = 0, failed = 0;
  int mode = 0, owner = 0, link = 0, time = 0;
  void Count(TVaultrex::TVerifyOutcome outcome);
  void Count(TVaultrex::TMetaDifference what);
};
std::string FormatVerifySummary(const TVerifyTally& tally, int exitCode);

}  // namespace vx
