// The level log across levels and against other processes.
#include <gtest/gtest.h>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

TEST(LogHandling, SecondLevelReplacesTheLogUnlessInPlace) {
  LevelRunner runner;
  runner.Set("Level", "1");
  ASSERT_TRUE(LevelBody(runner.RunLevel("").log, 1).has_value());
  runner.Set("Level", "2");
  const LevelResult second = runner.RunLevel("");
  EXPECT_EQ(LevelBody(second.log, 2), "") << second.log;

  runner.Set("Level", "3");
  runner.Set("InPlaceMode", "1");
  const LevelResult third = runner.RunLevel("#C\t\n");
  // Both levels stand in the file, the third after the second.
  const std::size_t split = third.log.find("***----- Starting Update Level 3");
  ASSERT_NE(split, std::string::npos);
  EXPECT_EQ(LevelBody(third.log.substr(0, split), 2), "");
  EXPECT_EQ(LevelBody(third.log.substr(split), 3),
            ErrorEntry("Needed parameter is missing", 0, 4, 0, {{1, "PARAM1"}}) + "Failed - Rename\r\n");
}

TEST(LogHandling, InPlaceModeCountsOnlyWhenExactlyOne) {
  LevelRunner runner;
  ASSERT_TRUE(LevelBody(runner.RunLevel("").log, 1).has_value());
  runner.Set("InPlaceMode", "2");
  const LevelResult r = runner.RunLevel("");
  EXPECT_EQ(LevelBody(r.log, 1), "") << r.log;
}

TEST(LogHandling, LogHeldByAnotherWriterLosesEntriesButNotTheLevel) {
  // Windows: this test program holds the log open for writing itself, as
  // another writer would (tests/integration/windows_level_test.cpp).
  if (IsWindowsBuild()) GTEST_SKIP() << "on Windows: WindowsLevel.LogHeldOpenForWritingLosesEntriesButNotTheLevel";
  // flock(1) holds an exclusive lock for the whole level, as a writer would.
  if (std::system("command -v flock >/dev/null 2>&1") != 0) GTEST_SKIP() << "flock(1) not installed";
  LevelRunner runner;
  WriteFile(runner.LogFile(), "held\r\n");
  WriteFile(runner.Path("a.dat"), "a");
  WriteFile(runner.ControlFile(), "#C" + runner.Path("a.dat") + "\tb.dat\n#C\t\n");
  const std::string params = runner.ParamFile();
  Keys keys = {{"Msg", runner.Path("msg/MSG.STR")}, {"Language", "E"}, {"File", runner.ControlFile()},
               {"ParentParams", runner.Path("parent.ini")}, {"InPlaceMode", "1"}};
  WriteFile(params, ParamText(keys));
  const std::string command = "flock -x \"" + runner.LogFile() + "\" \"" + VeupdProgram() + "\" \"" + params +
                              "\" 2>\"" + runner.Path("err.txt") + "\"";
  // flock(1) itself holds the lock on its own descriptor while veupd runs.
  const int status = std::system(command.c_str());
  EXPECT_EQ(status >> 8, 1);
  EXPECT_EQ(ReadFile(runner.LogFile()), "held\r\n");
  EXPECT_TRUE(std::filesystem::exists(runner.Path("b.dat")));
  EXPECT_EQ(IniValue(ReadFile(runner.Path("parent.ini")), "DedozUduResult"), "0");
  EXPECT_EQ(ReadFile(runner.Path("err.txt")), runner.Summary(1));
}

}  // namespace
}  // namespace veupd::test
