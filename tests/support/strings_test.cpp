#include "support/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/path_names.h"

namespace vx {
namespace {

using Pieces = std::vector<std::string>;

TEST(Trimming, EachSideAndTheBlankSet) {
  EXPECT_EQ(Trim(" \ta b\t "), "a b");
  EXPECT_EQ(TrimLeft(" \ta b\t "), "a b\t ");
  EXPECT_EQ(TrimRight(" \ta b\t "), " \ta b");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(TrimLeft(""), "");
  // Only the characters named are blanks: a line break stays by default.
  EXPECT_EQ(Trim("\r\nx\r\n"), "\r\nx\r\n");
  EXPECT_EQ(Trim("\r\nx \v\f", kWhiteSpace), "x");
  EXPECT_EQ(Trim("  x\t", " "), "x\t");
}

struct SplitCase {
  const char* text;
  Pieces split, terminated, words;
};

class Splitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Splitting, KeepsEmptyPiecesOrDropsThemAsAsked) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(Split(c.text, ','), c.split);
  EXPECT_EQ(SplitTerminated(c.text, ','), c.terminated);
  EXPECT_EQ(SplitWords(c.text, ", "), c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, Splitting,
    ::testing::Values(SplitCase{"", {""}, {}, {}}, SplitCase{"a", {"a"}, {"a"}, {"a"}},
                      SplitCase{"a,b,", {"a", "b", ""}, {"a", "b"}, {"a", "b"}},
                      SplitCase{",a,,b", {"", "a", "", "b"}, {"", "a", "", "b"}, {"a", "b"}},
                      SplitCase{" a , b ", {" a ", " b "}, {" a ", " b "}, {"a", "b"}},
                      SplitCase{",", {"", ""}, {""}, {}}));

TEST(AsciiCase, OnlyLettersAToZChange) {
  EXPECT_EQ(LowerAscii("MiXeD 09-Ž"), "mixed 09-Ž");
  EXPECT_TRUE(SameTextIgnoringCase("Options", "oPTIONS"));
  EXPECT_FALSE(SameTextIgnoringCase("Option", "Options"));
  EXPECT_FALSE(SameTextIgnoringCase("Ž", "ž"));  // UTF-8 bytes compare exactly
}

struct IntCase {
  const char* text;
  std::optional<std::int64_t> value;
  bool hex;
};

void PrintTo(const IntCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }
void PrintTo(const SplitCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class IniInteger : public ::testing::TestWithParam<IntCase> {};

TEST_P(IniInteger, Grammar) {
  const IntCase& c = GetParam();
  bool hex = !c.hex;
  EXPECT_EQ(ParseIniInteger(c.text, &hex), c.value) << c.text;
  if (c.value) {
    EXPECT_EQ(hex, c.hex) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Strings, IniInteger,
    ::testing::Values(IntCase{"42", 42, false}, IntCase{" \t-12\r", -12, false},
                      IntCase{"+7", 7, false}, IntCase{"0x1f", 31, true},
                      IntCase{"0XFFFFFFFF", 0xFFFFFFFFLL, true},
                      IntCase{"9223372036854775807", INT64_MAX, false},
                      IntCase{"-9223372036854775808", INT64_MIN, false},
                      IntCase{"0x7FFFFFFFFFFFFFFF", INT64_MAX, true},
                      IntCase{"9223372036854775808", std::nullopt, false},
                      IntCase{"0x8000000000000000", std::nullopt, false},
                      IntCase{"0x", std::nullopt, false}, IntCase{"0x-5", std::nullopt, false},
                      IntCase{"-0x5", std::nullopt, false}, IntCase{"12k", std::nullopt, false},
                      IntCase{"1 2", std::nullopt, false}, IntCase{"-", std::nullopt, false},
                      IntCase{"", std::nullopt, false}, IntCase{"  ", std::nullopt, false}));

TEST(PathNames, ExtensionsAndTrailingSlashes) {
  EXPECT_TRUE(HasExtension("dir/set.vxa"));
  EXPECT_FALSE(HasExtension("dir/.hidden"));  // a leading dot is no extension
  EXPECT_FALSE(HasExtension("dir.d/name"));   // a dot in a folder is none either
  EXPECT_TRUE(HasExtension(".hidden.txt"));
  EXPECT_EQ(WithoutTrailingSlashes("/a/b//"), "/a/b");
  EXPECT_EQ(WithoutTrailingSlashes("///"), "/");
  EXPECT_EQ(WithoutTrailingSlashes(""), "");
  EXPECT_EQ(WithTrailingSlash("/a"), "/a/");
  EXPECT_EQ(WithTrailingSlash("/a/"), "/a/");
  EXPECT_EQ(WithTrailingSlash(""), "");
}

}  // namespace
}  // namespace vx
