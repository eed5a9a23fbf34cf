// The Windows updater as a user and the system meet it (under Wine in CI):
// the dialog's state, the break question's box, a level ended from outside,
// a log held by another writer, the embedded manifest. The other systems
// have no windows; their behaviour is covered by the other level tests.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kShowsWithinMs = 30000;
constexpr int kSettleMs = 300;

// "#5<hold.exe> <dir>\release 1": a line that waits until the test writes
// the release file; the helper writes "started" once it runs.
struct HeldLine {
  explicit HeldLine(const LevelRunner& runner)
      : program(LevelHelper(runner.Dir().path(), "hold")), release(runner.Path("release")),
        started(runner.Path("started")) {}
  [[nodiscard]] std::string Line() const { return "#5" + program + "\t" + release + "\t1\n"; }
  [[nodiscard]] bool WaitStarted() const {
    for (unsigned waited = 0; waited < kShowsWithinMs && !fs::exists(started); waited += 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fs::exists(started);
  }
  void Release() const { WriteFile(release, ""); }
  std::string program, release, started;
};

TEST(WindowsLevel, DialogIsMinimizedAndTheUserCannotCloseIt) {
  LevelRunner runner;
  const HeldLine held(runner);
  WriteFile(runner.Path("a.dat"), "a");
  std::atomic<bool> iconic{false}, still_there{false};
  std::thread user([&] {
    HWND dialog = WaitForProgressDialog(kShowsWithinMs);
    if (dialog != nullptr && held.WaitStarted()) {
      // Minimized while the level runs; Wine shows a modal dialog normally at
      // its first idle moment and the dialog minimizes itself again shortly.
      for (unsigned waited = 0; waited < kShowsWithinMs && !IsIconic(dialog); waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      iconic = IsIconic(dialog) != FALSE;
      // Alt+F4 / the system menu, Escape, Enter.
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
      still_there = IsWindow(dialog) != FALSE;
    }
    held.Release();
  });
  const LevelResult r = runner.RunLevel(held.Line() + "#C" + runner.Path("a.dat") + "\tb.dat\n");
  user.join();
  EXPECT_TRUE(iconic);
  EXPECT_TRUE(still_there);
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Programm/function call (" + held.program + ")\r\n") << r.log;
  EXPECT_TRUE(fs::exists(runner.Path("b.dat")));
  EXPECT_EQ(r.result, "1");
}

// Ending the task (WM_CLOSE from outside) or the session (WM_ENDSESSION)
// while a command runs: the command finishes, no further line runs, the
// level stays visibly unfinished and the caller is not started again.
TEST(WindowsLevel, EndedFromOutsideStopsBeforeTheNextCommand) {
  struct Case {
    const char* name;
    UINT message;
    WPARAM wparam;
  } cases[] = {{"task end", WM_CLOSE, 0}, {"session end", WM_ENDSESSION, TRUE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LevelRunner runner;
    const HeldLine held(runner);
    WriteFile(runner.Path("a.dat"), "a");
    fs::create_directories(runner.Path("caller"));
    runner.Set("ParentPrg", LevelHelper(runner.Path("caller"), "parent"));
    std::thread outside([&] {
      HWND dialog = WaitForProgressDialog(kShowsWithinMs);
      if (dialog != nullptr && held.WaitStarted()) {
        if (c.message == WM_ENDSESSION) PostMessageA(dialog, WM_QUERYENDSESSION, 0, 0);
        PostMessageA(dialog, c.message, c.wparam, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
      }
      held.Release();
    });
    const LevelResult r = runner.RunLevel(held.Line() + "#C" + runner.Path("a.dat") + "\tb.dat\n");
    outside.join();
    EXPECT_EQ(OpenLevelBody(r.log, 1), "OK - Programm/function call (" + held.program + ")\r\n") << r.log;
    EXPECT_FALSE(fs::exists(runner.Path("b.dat")));
    EXPECT_EQ(r.checkpoint, CheckpointBytes(2, 1, 0, 0));
    EXPECT_EQ(r.result, "0");
    EXPECT_EQ(r.exit_status, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    EXPECT_FALSE(fs::exists(runner.Path("parent.ini.seen"))) << "the caller was started again";
  }
}

TEST(WindowsLevel, BreakQuestionStandsOnTopAndNoLetsTheLevelGoOn) {
  LevelRunner runner;
  WriteFile(runner.Path("a.dat"), "a");
  WriteFile(runner.ControlFile(), "#C\t\n#81\n#C" + runner.Path("a.dat") + "\tb.dat\n");
  const LevelResult r = runner.RunWithCurrentFiles(Answer::kNo);
  ASSERT_EQ(r.boxes.size(), 1u) << r.err;
  const SeenBox& box = r.boxes[0];
  EXPECT_EQ(box.text, "An error occurred. Stop the update?");
  EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_NE(box.icon, nullptr);
  EXPECT_TRUE(box.topmost);
  EXPECT_TRUE(fs::exists(runner.Path("b.dat"))) << r.log;
  EXPECT_EQ(r.result, "0");
}

TEST(WindowsLevel, LogHeldOpenForWritingLosesEntriesButNotTheLevel) {
  LevelRunner runner;
  WriteFile(runner.LogFile(), "held\r\n");
  WriteFile(runner.Path("a.dat"), "a");
  runner.Set("InPlaceMode", "1");
  LevelResult r;
  {
    // Another writer: the updater's open, which lets others only read, fails.
    std::ofstream writer(runner.LogFile(), std::ios::binary | std::ios::app);
    ASSERT_TRUE(writer.is_open());
    r = runner.RunLevel("#C" + runner.Path("a.dat") + "\tb.dat\n#C\t\n");
  }
  EXPECT_EQ(ReadFile(runner.LogFile()), "held\r\n");
  EXPECT_TRUE(fs::exists(runner.Path("b.dat")));
  EXPECT_EQ(r.result, "0");
  EXPECT_EQ(r.exit_status, 1);
}

TEST(WindowsLevel, ManifestAsksForNoElevationAndNamesTheSupportedSystems) {
  HMODULE exe = LoadLibraryExA(VeupdProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  HRSRC res = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(res, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(exe, res)));
  const std::string manifest(bytes, SizeofResource(exe, res));
  FreeLibrary(exe);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // 10 and 11
  EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // 7
}

}  // namespace
}  // namespace veupd::test
#endif  // _WIN32
