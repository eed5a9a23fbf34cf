// Path rules: joining and wildcard matching.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

TEST(Paths, JoinAddsOneSeparatorOnlyWhenNeeded) {
  const std::string sep(1, kNativeSeparator);
  EXPECT_EQ(JoinPath("dir", "a.dat"), "dir" + sep + "a.dat");
  EXPECT_EQ(JoinPath("dir\\", "a.dat"), "dir\\a.dat");
  EXPECT_EQ(JoinPath("", "a.dat"), "a.dat");
}

struct WildcardCase {
  const char* label;
  const char* pattern;
  const char* name;
  bool match;
};

class Wildcard : public testing::TestWithParam<WildcardCase> {};

TEST_P(Wildcard, MatchesAsTheWindowsSearch) {
  const WildcardCase& c = GetParam();
  EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
}

const WildcardCase kWildcardCases[] = {
    {"StarMatchesAll", "*", "A.DAT", true},
    {"StarMatchesNoDot", "*", "README", true},
    {"StarDotStarMatchesDotted", "*.*", "a.dat", true},
    {"StarDotStarMatchesNoDot", "*.*", "README", true},
    {"StarDotStarMatchesDotDir", "*.*", "..", true},
    {"StarMatchesEmptyRun", "a*.dat", "a.dat", true},
    {"ExtensionIgnoresCase", "*.DAT", "table.dat", true},
    {"NameIgnoresCase", "TaBlE.dAt", "TABLE.DAT", true},
    {"ExtensionMustMatch", "*.DAT", "table.dax", false},
    {"ExtensionNotAPrefix", "*.DAT", "table.data", false},
    {"QuestionIsOneChar", "a?c", "abc", true},
    {"QuestionNotEmpty", "a?c", "ac", false},
    {"QuestionMatchesDot", "a?c", "a.c", true},
    {"QuestionsCountChars", "upd???.log", "upd001.log", true},
    {"QuestionsTooFew", "upd???.log", "upd01.log", false},
    {"TrailingDotStarMatchesBareName", "readme.*", "README", true},
    {"TrailingDotStarMatchesExtension", "readme.*", "readme.txt", true},
    {"TrailingDotStarNeedsName", "readme.*", "readmex", false},
    {"SeveralStars", "*a*b*", "xxaYYbZZ", true},
    {"SeveralStarsOrder", "*a*b*", "xxbYYaZZ", false},
    {"LiteralMismatch", "a.dat", "b.dat", false},
    {"DotOnlyByStar", "*", ".", true},
    {"MultipleDots", "*.tar.gz", "x.TAR.GZ", true},
    {"EmptyPatternMatchesNothing", "", "a", false},
};

INSTANTIATE_TEST_SUITE_P(Table, Wildcard, testing::ValuesIn(kWildcardCases),
                         [](const testing::TestParamInfo<WildcardCase>& info) { return info.param.label; });

}  // namespace
}  // namespace veupd::os
