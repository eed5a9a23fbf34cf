// A second updater on the control file of a running one refuses at once:
// its message, exit status 2, no result written back, the running level's
// log and checkpoint left alone.
#include <gtest/gtest.h>

#include "integration/level_runner.h"
#include "platform/platform.h"

namespace veupd::test {
namespace {

TEST(SecondRun, RefusedWhileTheControlFileIsInUse) {
  if (IsWindowsBuild()) GTEST_SKIP() << "shows a message box, which waits for a click";
  LevelRunner runner;
  WriteFile(runner.LogFile(), "log of the running level\r\n");
  WriteFile(runner.CheckpointFile(), std::string(16, '\1'));
  WriteFile(runner.Path("parent.ini"), "[UPDATE]\r\n");
  {
    os::File held;  // as a running updater holds it
    ASSERT_TRUE(held.Open(runner.Path("UpdCtrl.lck"), os::OpenMode::kReadWriteCreate).ok());
    const LevelResult r = runner.RunLevel("#C\t\n");
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, "Another update is already running with the control file " + runner.ControlFile() + ".\n");
    EXPECT_FALSE(r.result.has_value());
    EXPECT_EQ(r.log, "log of the running level\r\n");
    EXPECT_EQ(r.checkpoint, std::string(16, '\1'));
  }
  // Once the lock is free (the file of a killed run may still be there) the
  // level runs, and the lock file goes with it.
  const LevelResult r = runner.RunLevel("#C\t\n");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.result, "0");
  EXPECT_NE(r.log.find("Starting Update Level 1"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(runner.Path("UpdCtrl.lck")));
}

}  // namespace
}  // namespace veupd::test
