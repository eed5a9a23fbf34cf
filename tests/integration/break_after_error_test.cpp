// Break after error through the real updater.
#include <gtest/gtest.h>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

const std::string kMissing1 = ErrorEntry("Needed parameter is missing", 0, 4, 0, {{1, "PARAM1"}});

TEST(BreakAfterError, WithoutAnErrorNothingHappens) {
  LevelRunner runner;
  WriteFile(runner.Path("a.dat"), "a");
  const LevelResult r = runner.RunLevel("#8\t\n#C" + runner.Path("a.dat") + "\tb.dat\n");
  EXPECT_EQ(LevelBody(r.log, 1), "") << r.log;
  EXPECT_TRUE(std::filesystem::exists(runner.Path("b.dat")));
  EXPECT_EQ(r.result, "1");
  EXPECT_EQ(r.exit_status, 0);
}

TEST(BreakAfterError, AfterAnErrorEndsTheLevelAndCountsOneMore) {
  LevelRunner runner;
  WriteFile(runner.Path("a.dat"), "a");
  const LevelResult r = runner.RunLevel("#C\t\n#8\t\n#C" + runner.Path("a.dat") + "\tb.dat\n");
  EXPECT_EQ(LevelBody(r.log, 1), kMissing1 + "Failed - Rename\r\n" + ErrorEntry("Break after error", 1, 27))
      << r.log;
  EXPECT_FALSE(std::filesystem::exists(runner.Path("b.dat")));
  EXPECT_EQ(r.result, "0");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_FALSE(r.checkpoint.has_value());
}

TEST(BreakAfterError, AskingWithoutATerminalCountsAsYes) {
  // PARAM1 "1" asks; with standard error not a terminal the question is
  // written there and answered Yes (on Windows the box is answered Yes).
  LevelRunner runner;
  const LevelResult r = runner.RunLevel("#C\t\n#81\n");
  EXPECT_EQ(LevelBody(r.log, 1), kMissing1 + "Failed - Rename\r\n" + ErrorEntry("Break after error", 1, 27))
      << r.log;
  EXPECT_EQ(r.err, "An error occurred. Stop the update?\n" + runner.Summary(2));
}

TEST(BreakAfterError, ServerAutomationNeverAsks) {
  LevelRunner runner;
  WriteFile(runner.Path("parent.ini"), ParamText({{"ServerAutomation", "1"}}));
  const LevelResult r = runner.RunLevel("#C\t\n#81\n");
  EXPECT_EQ(LevelBody(r.log, 1), kMissing1 + "Failed - Rename\r\n" + ErrorEntry("Break after error", 1, 27))
      << r.log;
  EXPECT_EQ(r.err, runner.Summary(2));
  EXPECT_EQ(r.result, "0");
}

TEST(BreakAfterError, SkippedLikeAnyOtherQuestionMarkLine) {
  LevelRunner runner;
  WriteFile(runner.Path("a.dat"), "a");
  const LevelResult r = runner.RunLevel("#C\t\n?8\t\n#C" + runner.Path("a.dat") + "\tb.dat\n");
  EXPECT_EQ(LevelBody(r.log, 1), kMissing1 + "Failed - Rename\r\n") << r.log;
  EXPECT_TRUE(std::filesystem::exists(runner.Path("b.dat")));
}

}  // namespace
}  // namespace veupd::test
