// veupd-tool crc and diff from the output folder: the published CRC check
// values of our variant, and control lines printed by diff that the real updater runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "integration/level_runner.h"
#include "patch/tool_runner.h"
#include "test_support.h"

namespace veupd::test {
namespace {

std::string RandomText(std::mt19937& rng, std::size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// A length-prefixed record of a table data file.
std::string Rec(const std::string& content) {
  return std::string{static_cast<char>(content.size() & 0xFF), static_cast<char>(content.size() >> 8)} + content;
}

TEST(CrcTool, PrintsTheVariantsCheckValues) {
  TempDir dir;
  WriteFile(dir / "digits", "123456789");
  WriteFile(dir / "abc", "abc");
  EXPECT_EQ(Tool(dir, {"crc", dir / "digits"}).out, "2DFD2D88\n");
  const ToolRun both = Tool(dir, {"crc", dir / "digits", dir / "abc"});
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.out, "2DFD2D88  " + (dir / "digits") + "\nCA6598D0  " + (dir / "abc") + "\n");
  EXPECT_EQ(Tool(dir, {"crc", dir / "missing"}).status, 1);
}

TEST(DiffTool, RefusesMissingArguments) {
  TempDir dir;
  EXPECT_EQ(Tool(dir, {"diff", "a"}).status, 2);
  EXPECT_EQ(Tool(dir, {"diff", "a", "b"}).status, 2);  // no -o
  EXPECT_EQ(Tool(dir, {"diff", "a", "b", "-o", "c", "--structure", "s"}).status, 2);  // needs --records
}

struct LineCase {
  const char* name;
  bool records;
  bool in_place;
  bool old_present;
  char opcode;
};

class PrintedLine : public ::testing::TestWithParam<LineCase> {};

// The printed control line, run by the updater, turns OLD into NEW.
TEST_P(PrintedLine, RunsThroughTheUpdater) {
  const LineCase& c = GetParam();
  LevelRunner level;
  std::mt19937 rng(7);
  std::string old_text;
  std::string new_text;
  for (int i = 0; i < 300; ++i) {
    const std::string content = RandomText(rng, rng() % 90);
    old_text += Rec(content);
    new_text += Rec(i % 37 == 5 ? content + "changed" : content);
    if (i % 50 == 3) new_text += Rec("inserted record");
  }
  // Native separators: on Windows only '\' parts the file name from its
  // folder, which the new file's name in the target folder is taken from.
  const auto in = [](const char* folder) { return (std::filesystem::path(folder) / "TABLE.DAT").string(); };
  const std::string old_path = level.Path(in("data"));
  const std::string new_path = level.Path(in("new"));
  const std::string target = level.Path("target");
  std::filesystem::create_directories(level.Path("data"));
  if (c.old_present) WriteFile(old_path, old_text);
  WriteFile(new_path, new_text);
  std::filesystem::create_directories(target);
  std::vector<std::string> args{"diff", old_path, new_path, "-o", level.Path("TABLE.UPD"), "--print-line"};
  if (c.records) args.push_back("--records");
  if (!c.in_place) {
    args.push_back("--target");
    args.push_back(target);
  }
  TempDir scratch;
  const ToolRun run = Tool(scratch, args);
  ASSERT_EQ(run.status, 0);
  ASSERT_GE(run.out.size(), 3u);
  EXPECT_EQ(run.out.substr(0, 2), std::string("#") + c.opcode);
  EXPECT_EQ(run.out.back(), '\n');
  const LevelResult r = level.RunLevel(run.out.substr(0, run.out.size() - 1) + "\r\n");
  EXPECT_EQ(r.result, "1") << r.log;
  EXPECT_EQ(ReadFile(c.in_place ? old_path : target + "/TABLE.DAT"), new_text) << r.log;
}

INSTANTIATE_TEST_SUITE_P(Cases, PrintedLine,
                         ::testing::Values(LineCase{"fix_update", false, false, true, '4'},
                                           LineCase{"fix_update_in_place", false, true, true, 'B'},
                                           LineCase{"fdt_update", true, false, true, '0'},
                                           LineCase{"fdt_update_in_place", true, true, true, 'A'},
                                           LineCase{"created_in_place", false, true, false, 'B'},
                                           LineCase{"table_created", true, false, false, '0'}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veupd::test
