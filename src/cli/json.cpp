#include "cli/json.h"

#include <cstdint>
#include <cstdio>

#include "platform/date_time.h"

namespace vx {
namespace {

// The length of the valid UTF-8 sequence at s[i], or 0 when there is none
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  std::size_t n;
  std::uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

void AppendHexEscape(std::string& out, unsigned char c) {
  char esc[8];
  std::snprintf(esc, sizeof esc, "\\u%04x", c);
  out += esc;
}

std::string PathFields(const std::string& path) {
  std::string out = "\"path\":" + JsonString(path);
  if (!JsonIsPlainUtf8(path)) {
    out += ",\"path_hex\":\"";
    for (unsigned char c : path) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", c);
      out += hex;
    }
    out += '"';
  }
  return out;
}

}  // namespace

bool JsonIsPlainUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = Utf8Length(bytes, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const std::size_t n = Utf8Length(bytes, i);
    if (n == 0) {
      AppendHexEscape(out, c);
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(bytes, i, n);
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      AppendHexEscape(out, c);
    } else {
      out += static_cast<char>(c);
    }
    i += n;
  }
  out += '"';
  return out;
}

std::string FormatCatalogJson(const TDirRecord& r) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  DecodeDateTime(r.time, year, month, day, hour, minute, second);
  char head[160];
  std::snprintf(head, sizeof head,
                "{\"size\":%u,\"crc\":\"%08X\",\"attributes\":%u,"
                "\"time\":\"%04d-%02d-%02dT%02d:%02d:%02d\",",
                static_cast<unsigned>(static_cast<std::uint32_t>(r.size)),
                static_cast<unsigned>(r.crc), static_cast<unsigned>(r.attr), year, month, day, hour,
                minute, second);
  return head + PathFields(r.path) + "}";
}

std::string FormatVerifyJson(const std::string& path, TVaultrex::TVerifyOutcome outcome) {
  const char* result = "failed";
  switch (outcome) {
    case TVaultrex::TVerifyOutcome::Same:
      result = "ok";
      break;
    case TVaultrex::TVerifyOutcome::Missing:
      result = "missing";
      break;
    case TVaultrex::TVerifyOutcome::Different:
      result = "different";
      break;
    case TVaultrex::TVerifyOutcome::Failed:
      result = "failed";
      break;
  }
  return "{" + PathFields(path) + ",\"result\":\"" + result + "\"}";
}

void TVerifyTally::Count(TVaultrex::TVerifyOutcome outcome) {
  switch (outcome) {
    case TVaultrex::TVerifyOutcome::Same:
      ++ok;
      break;
    case TVaultrex::TVerifyOutcome::Missing:
      ++missing;
      break;
    case TVaultrex::TVerifyOutcome::Different:
      ++different;
      break;
    case TVaultrex::TVerifyOutcome::Failed:
      ++failed;
      break;
  }
}

namespace {

const char* MetaDifferenceName(TVaultrex::TMetaDifference what) {
  switch (what) {
    case TVaultrex::TMetaDifference::Mode:
      return "mode";
    case TVaultrex::TMetaDifference::Owner:
      return "owner";
    case TVaultrex::TMetaDifference::Link:
      return "link";
    case TVaultrex::TMetaDifference::Time:
      return "time";
  }
  return "mode";
}

}  // namespace

std::string FormatMetaDifferenceJson(const std::string& path, TVaultrex::TMetaDifference what) {
  return "{" + PathFields(path) + ",\"metadata\":\"" + MetaDifferenceName(what) + "\"}";
}

void TVerifyTally::Count(TVaultrex::TMetaDifference what) {
  switch (what) {
    case TVaultrex::TMetaDifference::Mode:
      ++mode;
      break;
    case TVaultrex::TMetaDifference::Owner:
      ++owner;
      break;
    case TVaultrex::TMetaDifference::Link:
      ++link;
      break;
    case TVaultrex::TMetaDifference::Time:
      ++time;
      break;
  }
}

std::string FormatVerifySummary(const TVerifyTally& t, int exitCode) {
  return "{\"summary\":true,\"files\":" +
         std::to_string(t.ok + t.missing + t.different + t.failed) +
         ",\"ok\":" + std::to_string(t.ok) + ",\"missing\":" + std::to_string(t.missing) +
         ",\"different\":" + std::to_string(t.different) +
         ",\"failed\":" + std::to_string(t.failed) + ",\"mode_differs\":" + std::to_string(t.mode) +
         ",\"owner_differs\":" + std::to_string(t.owner) +
         ",\"link_differs\":" + std::to_string(t.link) +
         ",\"time_differs\":" + std::to_string(t.time) + ",\"exit\":" + std::to_string(exitCode) +
         "}";
}

}  // namespace vx
