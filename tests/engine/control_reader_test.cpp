// The control line syntax and the reader's counting and fetching, checked
// against hand-written lines and files.
#include "engine/control_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace veupd {
namespace {

TEST(ParseControlLine, DecodesPrefixOpcodePlaceholdersAndFields) {
  struct LineCase {
    const char* name;
    std::string line;  // as read, line end included
    std::int32_t opcode;
    bool skip, short_report;
    std::vector<std::string> params;  // the non-empty leading slots
  };
  const std::vector<LineCase> cases = {
      {"copy with placeholders", "#1%1\\A.DAT\t%0\\A.DAT\n", 1, false, false,
       {"C:\\U1\\A.DAT", "C:\\CAT\\A.DAT"}},
      {"tab right after opcode gives no slots", "#1\tC:\\A\tC:\\B\n", 1, false, false, {}},
      {"question prefix sets skip", "?Dx\n", 13, true, false, {"x"}},
      {"equals prefix sets short report", "=2dir\n", 2, false, true, {"dir"}},
      {"minus prefix sets both", "-7dir\n", 7, true, true, {"dir"}},
      {"lower-case opcode", "#dFILE\n", 45, false, false, {"FILE"}},
      {"colon is edit ini", "#:a\n", 3, false, false, {"a"}},
      {"no prefix keeps the whole line", "X\tY\n", 0, false, false, {"X", "Y"}},
      {"empty field stops the split", "#1a\t\tc\n", 1, false, false, {"a"}},
      {"trailing tab adds nothing", "#1a\tb\t\n", 1, false, false, {"a", "b"}},
      {"sixth field dropped", "#11\t2\t3\t4\t5\t6\n", 1, false, false, {"1", "2", "3", "4", "5"}},
      {"blanks kept inside, trailing blanks and CR removed", "#1 a b \t c \r\n \r", 1, false, false,
       {" a b ", " c"}},
      {"level placeholder", "#1x%Ly\n", 1, false, false, {"x7y"}},
      {"letter placeholders", "#1%9|%A|%J\n", 1, false, false, {"D9|D10|D19"}},
      {"other characters give UpdDir0", "#1%K|%a|%%|%0\n", 1, false, false,
       {"C:\\CAT|C:\\CAT|C:\\CAT|C:\\CAT"}},
      {"trailing percent gives UpdDir0", "#1x%\n", 1, false, false, {"xC:\\CAT"}},
  };
  for (const auto& c : cases) {
    CommandContext ctx;
    for (const auto& [n, dir] : {std::pair{0, "C:\\CAT"}, {1, "C:\\U1"}, {2, "C:\\U2"}, {9, "D9"}, {10, "D10"},
                                 {19, "D19"}}) {
      ctx.upd_dir[n] = dir;
    }
    ctx.param[4] = "stale";
    ParseControlLine(c.line, ctx, 7);
    EXPECT_EQ(ctx.opcode, c.opcode) << c.name;
    EXPECT_EQ(ctx.skip_after_error, c.skip) << c.name;
    EXPECT_EQ(ctx.short_report, c.short_report) << c.name;
    for (std::size_t i = 0; i < kParamCount; ++i) {
      const std::string want = i < c.params.size() ? c.params[i] : "";
      EXPECT_EQ(ctx.param[i], want) << c.name << " PARAM" << i + 1;
    }
  }
}

// A substitution that would never finish ends at a bound and leaves the rest
// of the line as it stands, however far the expansion has come.
TEST(SubstitutePlaceholders, EndsASubstitutionThatWouldNeverFinish) {
  UpdDirs dirs;
  dirs[1] = "%1";   // the same placeholder again, forever
  dirs[2] = "x%2";  // grows by one character each pass
  EXPECT_EQ(SubstitutePlaceholders("a%1b", dirs, 1), "a%1b");
  EXPECT_EQ(SubstitutePlaceholders("%2", dirs, 1).size(), static_cast<std::size_t>(kMaxSubstitutions) + 2);
  dirs[1] = "%1" + std::string(300000, 'x');  // past the length bound after four passes
  const std::string grown = SubstitutePlaceholders("a%1b", dirs, 1);
  EXPECT_EQ(grown, "a%1" + std::string(4 * 300000, 'x') + "b");
  EXPECT_GT(grown.size(), kMaxSubstitutedChars);
  dirs[1] = "%2y";
  dirs[2] = "%1";  // two placeholders that bring in each other, forever
  EXPECT_EQ(SubstitutePlaceholders("<%1>", dirs, 1), "<%1" + std::string(kMaxSubstitutions / 2, 'y') + ">");
}

class ControlFileTest : public ::testing::Test {
 protected:
  std::string Write(std::string_view content) {
    test::WriteFile(path_, content);
    return path_;
  }
  test::TempDir dir_;
  std::string path_ = dir_ / "ctrl.txt";
};

TEST_F(ControlFileTest, CountsUpToTheFirstShortLine) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"", 0},
      {"#\n#1abc\n", 0},                      // first line short
      {"#1a\n#1b\n\n#1c\n", 2},                // third line empty
      {"#1a\r\n#1b\r\n\r\n#1c\r\n", 2},          // CR LF counts as one end
      {"#1a\n#1", 1},                          // the last line without end
      {"#1a\n#1b", 2},
      {std::string(300, 'x') + "\n", 2},       // two pieces
      {std::string(255, 'x') + "\n#1a\n", 1},  // leaves a short piece
      {std::string(254, 'x') + "\n#1a\n", 2},  // the end fits
      {std::string("#1\0abc\n#1d\n", 11), 0},  // NUL ends the text of a piece
  };
  for (const auto& [content, count] : cases) {
    CommandContext ctx;
    ctx.line_index = 99;
    EXPECT_TRUE(ControlReader(Write(content)).CountLines(ctx));
    EXPECT_EQ(ctx.line_index, 0u);
    EXPECT_EQ(ctx.line_count, count) << content.substr(0, 20);
  }
}

// One reader goes on from where the last line ended; whatever the order of
// the indexes and however the file changes length in between, it reads what
// a reader scanning from the top reads.
TEST_F(ControlFileTest, ReadingOnMatchesReadingFromTheTop) {
  const std::string long_line = std::string(300, 'L') + "\tP2\r\n";
  const std::string v1 = "#1a\tb\r\n" + long_line + "?2c\n#3" + std::string(252, 'x') + "\r\n-4d\r\n=5e\n";
  const std::string v2 = "#9z\r\n" + long_line + "#Cq\tr\n-4d\n";
  const std::string path = Write(v1);
  ControlReader reader(path);
  CommandContext ctx;
  ASSERT_TRUE(reader.CountLines(ctx));
  ASSERT_EQ(ctx.line_count, 7u);
  struct Step {
    std::uint32_t index;
    const std::string* rewrite;  // the file's new content before the read
  };
  const Step steps[] = {{0, nullptr}, {1, nullptr}, {2, nullptr}, {3, nullptr}, {4, nullptr}, {1, nullptr},
                        {2, nullptr}, {6, nullptr}, {0, nullptr}, {1, nullptr}, {2, &v2},     {3, nullptr},
                        {4, nullptr}, {5, nullptr}, {1, &v1},     {2, nullptr}, {5, nullptr}, {6, nullptr}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.index);
    if (step.rewrite != nullptr) test::WriteFile(path, *step.rewrite);
    CommandContext fresh = ctx;
    fresh.line_index = step.index;
    const ReadResult want = ControlReader(path).ReadCommand(fresh, 1);
    ctx.line_index = step.index;
    ASSERT_EQ(reader.ReadCommand(ctx, 1), want);
    EXPECT_EQ(ctx.opcode, fresh.opcode);
    EXPECT_EQ(ctx.param, fresh.param);
    EXPECT_EQ(ctx.skip_after_error, fresh.skip_after_error);
  }
}

}  // namespace
}  // namespace veupd
