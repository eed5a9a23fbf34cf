// Started processes, modules, and share-mode locks against this program as a helper.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

constexpr std::uint32_t kWaitMs = 30000;

// This test program, which main.cpp turns into a helper process.
std::string HelperCommand() {
  return "\"" + JoinPath(ProgramDirectory(), std::string("tests_platform") + VEUPD_EXE_SUFFIX) + "\"";
}

// Starts this program holding file open in mode until dir/release appears (30 s at most); true once it holds it.
bool Hold(Process& helper, const test::TempDir& dir, const std::string& file, OpenMode mode,
          ShowCommand show = ShowCommand::kSystemDefault) {
  const std::string ready = dir / "ready";
  const std::string args = " --hold " + std::to_string(static_cast<int>(mode)) + " \"" + file + "\" \"" + ready +
                           "\" \"" + (dir / "release") + "\"";
  if (!helper.Start(HelperCommand() + args, "", show).ok()) return false;
  for (unsigned waited = 0; waited < kWaitMs && !Exists(ready); waited += 20) SleepMs(20);
  return Exists(ready);
}

// A helper holds a file; this process had another one open when it started the helper.
TEST(Process, StartsHoldsAndWaits) {
  test::TempDir dir;
  Process helper;
  EXPECT_EQ(helper.WaitHandlingMessages(10), Process::WaitResult::kFailed);  // never started
  EXPECT_FALSE(helper.Start("\"" + (dir / "no_such_program") + "\" x", "").ok());
  EXPECT_FALSE(helper.Start("", "").ok());
  EXPECT_FALSE(helper.Start(HelperCommand(), dir / "no_such_dir").ok());
  Module m;
  EXPECT_EQ(m.Load(dir / "none.dll").kind, OsErr::kNotFound);
  EXPECT_FALSE(m.IsLoaded());
  EXPECT_EQ(m.Symbol("anything"), nullptr);

  test::WriteFile(dir / "held.dat", "content");
  test::WriteFile(dir / "src.dat", "other");
  test::WriteFile(dir / "mine.dat", "x");
  File mine;
  ASSERT_TRUE(mine.Open(dir / "mine.dat", OpenMode::kReadWriteExisting).ok());
  ASSERT_TRUE(Hold(helper, dir, dir / "held.dat", OpenMode::kReadDenyWrite, ShowCommand::kShow));
  ASSERT_TRUE(mine.Close().ok());
  // Had the child inherited the handle, its copy would still hold the lock.
  EXPECT_TRUE(mine.Open(dir / "mine.dat", OpenMode::kReadWriteExisting).ok());
  EXPECT_EQ(RemoveFile(dir / "held.dat").kind, OsErr::kSharing);
  EXPECT_EQ(CopyFileOver(dir / "src.dat", dir / "held.dat", /*overwrite=*/true).kind, OsErr::kSharing);
  EXPECT_FALSE(MoveReplace(dir / "src.dat", dir / "held.dat").ok());
  EXPECT_EQ(test::ReadFile(dir / "src.dat"), "other");

  EXPECT_FALSE(helper.Wait(50));
  EXPECT_EQ(helper.WaitHandlingMessages(50), Process::WaitResult::kTimeout);
  test::WriteFile(dir / "release", "");
  EXPECT_EQ(helper.WaitHandlingMessages(kWaitMs), Process::WaitResult::kEnded);
  EXPECT_EQ(helper.ExitCode(), 0u);
  EXPECT_EQ(helper.WaitHandlingMessages(0), Process::WaitResult::kEnded);  // stays ended
  EXPECT_EQ(test::ReadFile(dir / "held.dat"), "content");
}

// Only cases both systems agree on: a plain reader next to an exclusive writer is refused on Windows but not
// on POSIX, where plain opens take no lock.
TEST(Locks, SecondOpenFromOtherProcess) {
  using enum OpenMode;
  const std::tuple<OpenMode, OpenMode, bool> cases[] = {
      {kReadWriteCreate, kReadDenyWrite, true},    {kReadWriteCreate, kReadWriteExisting, true},
      {kReadWriteExisting, kCreateTruncate, true}, {kReadWriteShareRead, kReadDenyWrite, true},
      {kReadWriteShareRead, kRead, false},         {kReadDenyWrite, kReadDenyWrite, false},
      {kReadDenyWrite, kReadWriteCreate, true},
  };
  for (const auto& [held, tried, conflict] : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(held)) + " then " + std::to_string(static_cast<int>(tried)));
    test::TempDir dir;
    test::WriteFile(dir / "shared.dat", "content");
    Process helper;
    ASSERT_TRUE(Hold(helper, dir, dir / "shared.dat", held));
    File f;
    const OsResult r = f.Open(dir / "shared.dat", tried);
    EXPECT_EQ(r.kind, conflict ? OsErr::kSharing : OsErr::kOk) << r.Text();
    (void)f.Close();
    test::WriteFile(dir / "release", "");
    ASSERT_TRUE(helper.Wait(kWaitMs) && helper.ExitCode() == 0) << "the helper held the file and ended normally";
    EXPECT_EQ(test::ReadFile(dir / "shared.dat"), "content");  // a refused truncation truncates nothing
    // Once the holder is gone the file opens in any mode.
    EXPECT_TRUE(f.Open(dir / "shared.dat", kReadWriteExisting).ok());
  }
}

}  // namespace
}  // namespace veupd::os
