#include <gtest/gtest.h>

#include "platform/file_system.h"

namespace vx {
namespace {

TEST(SearchMask, WildcardsOverTheWholeNameWithoutCase) {
  EXPECT_TRUE(MatchSearchMask("*.txt", "a.txt"));
  EXPECT_TRUE(MatchSearchMask("*.txt", "NOTES.TXT"));
  EXPECT_FALSE(MatchSearchMask("*.txt", "a.txt.bak"));
  EXPECT_FALSE(MatchSearchMask("*.txt", "txt"));
  EXPECT_TRUE(MatchSearchMask("a?c", "abc"));
  EXPECT_FALSE(MatchSearchMask("a?c", "ac"));
  EXPECT_FALSE(MatchSearchMask("a?c", "abbc"));
  EXPECT_TRUE(MatchSearchMask("Data*", "database.db"));
  EXPECT_TRUE(MatchSearchMask("*a*b*", "xxaxxbxx"));
  EXPECT_FALSE(MatchSearchMask("*a*b*", "xxbxxaxx"));
  EXPECT_TRUE(MatchSearchMask("report.doc", "Report.DOC"));
  EXPECT_FALSE(MatchSearchMask("report.doc", "report.docx"));
  EXPECT_FALSE(MatchSearchMask("", "a"));
}

TEST(SearchMask, QuirksUsersRelyOn) {
  // "*" and "*.*" take every name, also one without a dot.
  for (const char* name : {"README", "a.b.c", ".hidden", "x."}) {
    EXPECT_TRUE(MatchSearchMask("*", name)) << name;
    EXPECT_TRUE(MatchSearchMask("*.*", name)) << name;
  }
  // "X.*" also takes the bare "X".
  EXPECT_TRUE(MatchSearchMask("Makefile.*", "Makefile"));
  EXPECT_TRUE(MatchSearchMask("makefile.*", "Makefile.am"));
  EXPECT_FALSE(MatchSearchMask("Makefile.*", "Makefiles"));
  EXPECT_TRUE(MatchSearchMask("a?.*", "ab"));
}

TEST(SearchMask, NonAsciiNamesCountCharactersNotBytes) {
  EXPECT_TRUE(MatchSearchMask("?.txt", "\xC4\x8D.txt"));    // "č.txt"
  EXPECT_TRUE(MatchSearchMask("z?lohy", "z\xC3\xA1lohy"));  // "zálohy"
  EXPECT_FALSE(MatchSearchMask("z??lohy", "z\xC3\xA1lohy"));
  EXPECT_TRUE(MatchSearchMask("*", "\xFF\xFE"));  // not UTF-8 at all
  EXPECT_TRUE(MatchSearchMask("?\xFE", "\xFF\xFE"));
}

}  // namespace
}  // namespace vx
