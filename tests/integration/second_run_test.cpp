// A second updater on the control file of a running one refuses at once:
// its message, exit status 2, no result written back, the running level's
// log and checkpoint left alone.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "integration/level_runner.h"
#include "platform/platform.h"

namespace veupd::test {
namespace {

std::string InUseText(const LevelRunner& runner) {
  return "Another update is already running with the control file " + runner.ControlFile() + ".\n";
}

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 2000; ++i) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(SecondRun, RefusedWhileTheControlFileIsInUse) {
  if (IsWindowsBuild()) GTEST_SKIP() << "shows a message box, which waits for a click";
  LevelRunner runner;
  WriteFile(runner.LogFile(), "log of the running level\r\n");
  WriteFile(runner.CheckpointFile(), std::string(16, '\1'));
  WriteFile(runner.Path("parent.ini"), "[UPDATE]\r\n");
  {
    // Held as a running updater holds it.
    os::File held;
    ASSERT_TRUE(held.Open(runner.Path("UpdCtrl.lck"), os::OpenMode::kReadWriteCreate).ok());
    const LevelResult r = runner.RunLevel("#C\t\n");
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, InUseText(runner));
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

TEST(SecondRun, RealUpdaterRefusedWhileTheFirstRuns) {
  if (IsWindowsBuild()) GTEST_SKIP() << "uses a shell script as the waiting program";
  LevelRunner runner;
  // The first level waits in a program call until the test lets it go.
  const std::string script = runner.Path("wait.exe");
  WriteFile(script, "#!/bin/sh\ntouch started\nwhile [ ! -f go ]; do sleep 0.02; done\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const std::string control = "#5" + script + "\tx\tW\n";
  LevelResult first;
  std::thread running([&] { first = runner.RunLevel(control); });
  const bool started = WaitForFile(runner.Path("started"));
  LevelResult second;
  if (started) {
    second = runner.RunWithCurrentFiles();
    WriteFile(runner.Path("go"), "");
  }
  running.join();
  ASSERT_TRUE(started);
  EXPECT_EQ(second.exit_status, 2);
  EXPECT_EQ(second.err, InUseText(runner));
  EXPECT_EQ(first.exit_status, 0) << first.log;
  EXPECT_EQ(first.result, "1");
  EXPECT_EQ(first.log.find("Starting Update Level"), first.log.rfind("Starting Update Level"));
}

}  // namespace
}  // namespace veupd::test
