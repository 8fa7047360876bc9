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

// The last line of `verify --json`: how many files had each outcome and the
// run's exit code: {"summary":true,"files":N,"ok":N,"missing":N,
// "different":N,"failed":N,"exit":N}.
struct TVerifyTally {
  int ok = 0, missing = 0, different = 0, failed = 0;
  void Count(TVaultrex::TVerifyOutcome outcome);
};
std::string FormatVerifySummary(const TVerifyTally& tally, int exitCode);

}  // namespace vx
