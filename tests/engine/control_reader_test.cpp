// The control line syntax, the reader's counting and fetching, and the formatting of texts from data files.
#include "engine/control_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "formats/text_format.h"
#include "test_support.h"

namespace veupd {
namespace {

TEST(ParseControlLine, DecodesPrefixOpcodePlaceholdersAndFieldsAndEndsEndlessSubstitutions) {
  using Params = std::array<std::string, kParamCount>;
  struct LineCase {
    const char *name, *line;  // the line as read, line end included
    std::int32_t opcode;
    bool skip, short_report;
    Params params;
  };
  const std::vector<LineCase> cases = {
      {"copy with placeholders", "#1%1\\A.DAT\t%0\\A.DAT\n", 1, false, false, {"D1\\A.DAT", "D0\\A.DAT"}},
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
      {"blanks kept inside, trailing blanks and CR removed", "#1 a b \t c \r\n \r", 1, false, false, {" a b ", " c"}},
      {"level and letter placeholders", "#1x%Ly|%9|%A|%J\n", 1, false, false, {"x7y|D9|D10|D19"}},
      {"others and a trailing percent give UpdDir0", "#1%K|%a|%%|%0|x%\n", 1, false, false, {"D0|D0|D0|D0|xD0"}},
  };
  CommandContext before;
  for (int n = 0; n < kUpdDirCount; ++n) before.upd_dir[n] = "D" + std::to_string(n);
  before.param[4] = "stale";
  for (const auto& c : cases) {
    CommandContext ctx = before;
    ParseControlLine(c.line, ctx, 7);
    EXPECT_EQ(std::tie(ctx.opcode, ctx.skip_after_error, ctx.short_report, ctx.param),
              std::tie(c.opcode, c.skip, c.short_report, c.params))
        << c.name;
  }

  // A substitution that would never finish ends at a bound and leaves the rest of the line as it stands.
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

// Counting stops at the first short line. Reading on from the last line ends where a scan from the top does, in
// any order and as the file changes length.
TEST(ControlReader, CountsAndReadsOnAsFromTheTop) {
  test::TempDir dir;
  const std::string path = dir / "ctrl.txt";
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"", 0},
      {"#\n#1abc\n", 0},                                           // first line short
      {"#1a\n#1b\n\n#1c\n", 2}, {"#1a\r\n#1b\r\n\r\n#1c\r\n", 2},  // third line empty; CR LF is one end
      {"#1a\n#1", 1}, {"#1a\n#1b", 2},                             // the last line without end
      {std::string(300, 'x') + "\n", 2},                           // two pieces
      {std::string(255, 'x') + "\n#1a\n", 1},                      // leaves a short piece
      {std::string(254, 'x') + "\n#1a\n", 2},                      // the end fits
      {std::string("#1\0abc\n#1d\n", 11), 0},                      // NUL ends the text of a piece
  };
  for (const auto& [content, count] : cases) {
    test::WriteFile(path, content);
    CommandContext ctx;
    ctx.line_index = 99;
    EXPECT_TRUE(ControlReader(path).CountLines(ctx));
    EXPECT_EQ(std::pair(ctx.line_index, ctx.line_count), std::pair(0u, count)) << content.substr(0, 20);
  }

  const std::string long_line = std::string(300, 'L') + "\tP2\r\n";
  const std::string v1 = "#1a\tb\r\n" + long_line + "?2c\n#3" + std::string(252, 'x') + "\r\n-4d\r\n=5e\n";
  const std::string v2 = "#9z\r\n" + long_line + "#Cq\tr\n-4d\n";
  test::WriteFile(path, v1);
  ControlReader reader(path);
  CommandContext ctx;
  ASSERT_TRUE(reader.CountLines(ctx));
  ASSERT_EQ(ctx.line_count, 7u);
  // Line indexes; -2 rewrites the file as v2, -1 as v1.
  for (const int step : {0, 1, 2, 3, 4, 1, 2, 6, 0, 1, -2, 2, 3, 4, 5, -1, 1, 2, 5, 6}) {
    SCOPED_TRACE(step);
    if (step < 0) {
      test::WriteFile(path, step == -1 ? v1 : v2);
      continue;
    }
    CommandContext fresh = ctx;
    fresh.line_index = ctx.line_index = static_cast<std::uint32_t>(step);
    const ReadResult want = ControlReader(path).ReadCommand(fresh, 1);
    ASSERT_EQ(reader.ReadCommand(ctx, 1), want);
    EXPECT_EQ(std::tie(ctx.opcode, ctx.param, ctx.skip_after_error),
              std::tie(fresh.opcode, fresh.param, fresh.skip_after_error));
  }
}

// Texts from data files must never misbehave, whatever conversions they hold.
TEST(FormatText, FormatsTheConversionsItTakesAndReadsNumbers) {
  const std::pair<std::string, std::string> cases[] = {
      {FormatText("upd%03d.log", {std::int64_t{7}}), "upd007.log"},
      {FormatText("upd%03d.log", {std::int64_t{1234}}), "upd1234.log"},
      {FormatText("L%dL", {std::int64_t{-5}}), "L-5L"}, {FormatText("100%%", {}), "100%"},
      {FormatText("%s :\r\n[UPDATE]", {std::string_view("p.ini")}), "p.ini :\r\n[UPDATE]"},
      {FormatText("a%sb%dc", {}), "ab0c"},  // missing arguments
      {FormatText("%d", {std::string_view("x")}), "0"}, {FormatText("%s", {std::int64_t{12}}), "12"},
      {FormatText("(%s) %s", {std::string_view("%s"), std::string_view("x")}), "(%s) x"},  // not read again
      {FormatText("%n%p%f", {std::int64_t{1}}), "%n%p%f"},                                 // unknown: copied
      {FormatText("end%", {}), "end%"}, {FormatText("%08X", {std::int64_t{0x2DFD2D88}}), "2DFD2D88"},
      {FormatText("[%5s|%-4s|%.2s]", {std::string_view("ab"), std::string_view("c"), std::string_view("xyz")}),
       "[   ab|c   |xy]"},
      {CrcHex(0xAu) + CrcHex(0xFFFFFFFFu), "0000000AFFFFFFFF"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  EXPECT_EQ(FormatText("%999999999d", {std::int64_t{1}}).size(), static_cast<std::size_t>(kMaxFormatWidth));
  // Parameter values read as the C runtime reads leading digits.
  const std::pair<const char*, int> numbers[] = {{"12", 12}, {"  7x", 7}, {"-3", -3}, {"abc", 0}, {"", 0},
                                                 {"99999999999999", 2147483647}, {"-99999999999999", -2147483647 - 1}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(TextToInt(text), value) << text;
}

}  // namespace
}  // namespace veupd
