// The control-file reader through the real updater, bad files included.
#include <gtest/gtest.h>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

TEST(Reader, MissingControlFileIsError2AndEndsTheLevel) {
  LevelRunner runner;
  const LevelResult r = runner.RunWithCurrentFiles();
  EXPECT_EQ(LevelBody(r.log, 1),
            ErrorEntry("Cannot open update file", 0, 2, 0, {{1, runner.ControlFile()}}))
      << r.log;
  EXPECT_EQ(r.result, "0");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, runner.Summary(1));
}

TEST(Reader, LinesBehindAnEmptyLineAreNeverRead) {
  LevelRunner runner;
  const LevelResult r = runner.RunLevel("#C\t\r\n\r\n#C\t\r\n");
  EXPECT_EQ(LevelBody(r.log, 1), ErrorEntry("Needed parameter is missing", 0, 4, 0, {{1, "PARAM1"}}) +
                                     "Failed - Rename\r\n")
      << r.log;
}

TEST(Reader, PlaceholdersTakeTheUpdateDirectories) {
  LevelRunner runner;
  runner.Set("UpdDir3", runner.Dir().str());
  runner.Set("UpdDir12", "c.dat");
  WriteFile(runner.Path("a.dat"), "a");
  // '%3' is the folder, '%C' (UpdDir12) the new name; '\\' is a separator everywhere.
  const LevelResult r = runner.RunLevel("#C%3\\a.dat\t%C\n");
  EXPECT_EQ(LevelBody(r.log, 1), "") << r.log;
  EXPECT_TRUE(std::filesystem::exists(runner.Path("c.dat")));
}

TEST(Reader, LongLineRunsAsPiecesOf255Characters) {
  // 300 characters: the first 255 are one rename without PARAM2, the rest
  // another line without prefix (FDT-Update, or its stand-in).
  LevelRunner runner;
  const std::string first = "#C" + std::string(253, 'x');
  const LevelResult r = runner.RunLevel(first + std::string(45, 'y') + "\n");
  const auto body = LevelBody(r.log, 1);
  ASSERT_TRUE(body.has_value()) << r.log;
  const std::string rename_entry =
      ErrorEntry("Needed parameter is missing", 0, 4, 0, {{1, "PARAM2"}}) + "Failed - Rename (" +
      std::string(253, 'x') + ")\r\n";
  EXPECT_EQ(body->substr(0, rename_entry.size()), rename_entry);
  EXPECT_NE(body->find("(Line 1, code"), std::string::npos);
}

// Bad input: none of these may crash or hang; each ends the level in order.
TEST(Reader, BadControlFilesEndTheLevelInOrder) {
  struct Case {
    const char* name;
    std::string content;
  };
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
  const std::vector<Case> cases = {
      {"NUL bytes", std::string("#C\0\0\0\t\n#C\t\0x\n", 13)},
      {"100,000 characters on one line", "=C" + std::string(100000, 'z') + "\n"},
      {"binary file", binary},
      {"only line ends", "\r\n\r\n\n"},
  };
  for (const auto& c : cases) {
    LevelRunner runner;
    const LevelResult r = runner.RunLevel(c.content);
    EXPECT_TRUE(LevelBody(r.log, 1).has_value()) << c.name << "\n" << r.log;
    EXPECT_TRUE(r.result.has_value()) << c.name;
    EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 1) << c.name << " exit " << r.exit_status;
    EXPECT_FALSE(r.checkpoint.has_value()) << c.name;
  }
}

TEST(Reader, ControlFileShortenedWhileTheLevelRunsGivesError2) {
  // The second line's program cuts the control file down to its first line.
  LevelRunner runner;
  const std::string script = LevelHelper(runner.Dir().path(), "cut");
  const LevelResult r = runner.RunLevel("#C" + runner.Path("none.dat") + "\tx.dat\n#5" + script + "\t" +
                                        runner.ControlFile() + "\t1\n#C\t\n");
  const auto body = LevelBody(r.log, 1);
  ASSERT_TRUE(body.has_value()) << r.log;
  const std::string tail = ErrorEntry("Cannot open update file", 2, 2, 0, {{1, runner.ControlFile()}});
  ASSERT_GE(body->size(), tail.size()) << *body;
  EXPECT_EQ(body->substr(body->size() - tail.size()), tail);
  EXPECT_EQ(body->find("PARAM1"), std::string::npos) << "the third line must not run";
}

}  // namespace
}  // namespace veupd::test
