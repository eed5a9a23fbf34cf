// The run loop and its reporting through the real updater: banners, error
// and step entries, skipping after an error, the short report, the
// checkpoint file and the result handed back.
#include <gtest/gtest.h>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

const std::string kMissing1 = ErrorEntry("Needed parameter is missing", 0, 4, 0, {{1, "PARAM1"}});

TEST(RunLoop, EmptyCommandListWritesOnlyTheBanners) {
  LevelRunner runner;
  const LevelResult r = runner.RunLevel("");
  EXPECT_EQ(LevelBody(r.log, 1), "") << r.log;
  EXPECT_EQ(r.result, "1");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, runner.Summary(0));
  EXPECT_FALSE(r.checkpoint.has_value());
}

TEST(RunLoop, FailedCommandIsReportedAndTheNextLineStillRuns) {
  LevelRunner runner;
  WriteFile(runner.Path("a.dat"), "a");
  const LevelResult r = runner.RunLevel("#C\t\n#C" + runner.Path("a.dat") + "\tb.dat\n");
  EXPECT_EQ(LevelBody(r.log, 1), kMissing1 + "Failed - Rename\r\n") << r.log;
  EXPECT_TRUE(std::filesystem::exists(runner.Path("b.dat")));
  EXPECT_EQ(r.result, "0");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, runner.Summary(1));
  EXPECT_FALSE(r.checkpoint.has_value());
}

TEST(RunLoop, AfterAnErrorOnlyHashAndEqualsLinesRun) {
  LevelRunner runner;
  for (const char* name : {"q.dat", "m.dat", "h.dat", "e.dat"}) WriteFile(runner.Path(name), "x");
  const std::string control = "#C\t\n"
                              "?C" + runner.Path("q.dat") + "\tq2.dat\n"
                              "-C" + runner.Path("m.dat") + "\tm2.dat\n"
                              "#C" + runner.Path("h.dat") + "\th2.dat\n"
                              "=C" + runner.Path("e.dat") + "\te2.dat\n";
  const LevelResult r = runner.RunLevel(control);
  EXPECT_EQ(LevelBody(r.log, 1), kMissing1 + "Failed - Rename\r\n") << r.log;
  EXPECT_TRUE(std::filesystem::exists(runner.Path("q.dat")));
  EXPECT_TRUE(std::filesystem::exists(runner.Path("m.dat")));
  EXPECT_TRUE(std::filesystem::exists(runner.Path("h2.dat")));
  EXPECT_TRUE(std::filesystem::exists(runner.Path("e2.dat")));
}

TEST(RunLoop, ShortReportLogsOnlyTheFailureCode) {
  LevelRunner runner;
  const LevelResult r = runner.RunLevel("=C\t\n-C\t\n");
  // The '-' line is skipped: an error was reported before it.
  EXPECT_EQ(LevelBody(r.log, 1), kMissing1 + "Failed - 4\r\n") << r.log;
  EXPECT_EQ(r.result, "0");
}

TEST(RunLoop, ErrorCountIsTheLevelResultAndLineNumbersCountFromZero) {
  LevelRunner runner;
  const LevelResult r = runner.RunLevel("#C\t\n#C\t\n=C\t\n");
  const std::string expected = kMissing1 + "Failed - Rename\r\n" +
                               ErrorEntry("Needed parameter is missing", 1, 4, 0, {{1, "PARAM1"}}) +
                               "Failed - Rename\r\n" +
                               ErrorEntry("Needed parameter is missing", 2, 4, 0, {{1, "PARAM1"}}) +
                               "Failed - 4\r\n";
  EXPECT_EQ(LevelBody(r.log, 1), expected) << r.log;
  EXPECT_EQ(r.exit_status, 1);
}

TEST(RunLoop, LevelNumberAppearsInBothBanners) {
  LevelRunner runner;
  runner.Set("Level", "12");
  const LevelResult r = runner.RunLevel("");
  EXPECT_EQ(LevelBody(r.log, 12), "") << r.log;
}

TEST(RunLoop, CheckpointFileIsGoneAfterAnOrderlyEnd) {
  LevelRunner runner;
  WriteFile(runner.CheckpointFile(), "left from an interrupted level");
  const LevelResult r = runner.RunLevel("#C\t\n");
  EXPECT_FALSE(r.checkpoint.has_value());
  EXPECT_TRUE(LevelBody(r.log, 1).has_value());
}

TEST(RunLoop, CheckpointShowsWhereALevelStopped) {
  // A program started by the level sees the checkpoint of its own line and
  // copies it away, so that the test can read it after the level.
  LevelRunner runner;
  const std::string script = LevelHelper(runner.Dir().path(), "snap");
  const LevelResult r = runner.RunLevel("#C\t\n#5" + script + "\t" + runner.CheckpointFile() + "\t1\n");
  ASSERT_TRUE(std::filesystem::exists(runner.Path("seen.bin"))) << r.log;
  // Two lines, the second (index 1) running, phase 0, nothing counted.
  EXPECT_EQ(ReadFile(runner.Path("seen.bin")), CheckpointBytes(2, 1, 0, 0));
  EXPECT_FALSE(r.checkpoint.has_value());
}

}  // namespace
}  // namespace veupd::test
