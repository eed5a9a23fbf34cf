// Path rules: separators, joining, wildcard matching and the lookup of a
// path that exists only under a different case.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

TEST(Paths, BackslashAlwaysSeparates) {
  EXPECT_TRUE(IsSeparator('\\'));
  EXPECT_EQ(FindLastSeparator("a\\b\\c.dat"), 3u);
  EXPECT_EQ(FindFirstSeparator("a\\b\\c.dat"), 1u);
  EXPECT_EQ(FindLastSeparator("name.dat"), std::string_view::npos);
  EXPECT_FALSE(HasSeparator("name.dat"));
}

TEST(Paths, JoinAddsOneSeparatorOnlyWhenNeeded) {
  const std::string sep(1, kNativeSeparator);
  EXPECT_EQ(JoinPath("dir", "a.dat"), "dir" + sep + "a.dat");
  EXPECT_EQ(JoinPath("dir\\", "a.dat"), "dir\\a.dat");
  EXPECT_EQ(JoinPath("", "a.dat"), "a.dat");
}

TEST(Paths, ProgramDirectoryHoldsTheTestProgram) {
  const std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_FALSE(IsSeparator(dir.back()));
  EXPECT_TRUE(Exists(JoinPath(dir, std::string("tests_platform") + VEUPD_EXE_SUFFIX)));
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

// A tree whose names use mixed case, reached through names in other cases.
class CaseLookup : public testing::Test {
 protected:
  void SetUp() override { test::WriteFile(dir_.path() / "Data" / "Sub" / "Table.DAT", "content"); }
  test::TempDir dir_;
};

TEST_F(CaseLookup, ExistingEntryFoundIgnoringCase) {
  const std::string other_case = dir_.str() + "\\DATA\\sub\\table.dat";
  EXPECT_TRUE(Exists(other_case));
  EXPECT_TRUE(IsDirectory(dir_.str() + "\\data\\SUB"));
  DirEntry info;
  ASSERT_TRUE(GetInfo(other_case, info).ok());
  EXPECT_EQ(info.name, "Table.DAT");
  EXPECT_EQ(info.size, 7u);

  File f;
  ASSERT_TRUE(f.Open(other_case, OpenMode::kRead).ok());
  char buf[16];
  std::size_t got = 0;
  ASSERT_TRUE(f.Read(buf, sizeof(buf), got).ok());
  EXPECT_EQ(std::string(buf, got), "content");
}

TEST_F(CaseLookup, ResolvedPathUsesTheExistingNames) {
  const std::string resolved = ResolvePath(dir_.str() + "/data/SUB/table.dat");
  EXPECT_EQ(test::ReadFile(resolved), "content");
  // Windows needs no help with case and hands the path on unchanged.
  if (kNativeSeparator == '/') {
    EXPECT_NE(resolved.find("Data/Sub/Table.DAT"), std::string::npos);
  }
}

TEST_F(CaseLookup, NewNameCreatedAsWrittenInsideExistingDirectory) {
  File f;
  ASSERT_TRUE(f.Open(dir_.str() + "/DATA/sub/New.Txt", OpenMode::kCreateNew).ok());
  ASSERT_TRUE(f.Close().ok());
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "Data" / "Sub" / "New.Txt"));
}

TEST_F(CaseLookup, TruncatingOtherCaseReusesTheEntry) {
  File f;
  ASSERT_TRUE(f.Open(dir_.str() + "/data/sub/TABLE.dat", OpenMode::kCreateTruncate).ok());
  ASSERT_TRUE(f.Write("xy", 2).ok());
  ASSERT_TRUE(f.Close().ok());
  EXPECT_EQ(test::ReadFile(dir_.path() / "Data" / "Sub" / "Table.DAT"), "xy");
  std::error_code ec;
  int entries = 0;
  for (auto it = std::filesystem::directory_iterator(dir_.path() / "Data" / "Sub", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(CaseLookup, MissingTailKeptAsWritten) {
  EXPECT_FALSE(Exists(dir_.str() + "/data/Missing/table.dat"));
  const std::string resolved = ResolvePath(dir_.str() + "/data/Missing/X.dat");
  EXPECT_NE(resolved.find("Missing"), std::string::npos);
  EXPECT_NE(resolved.find("X.dat"), std::string::npos);
}

}  // namespace
}  // namespace veupd::os
