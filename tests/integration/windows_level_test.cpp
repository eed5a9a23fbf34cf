// The Windows updater as a user and the system meet it (under Wine in CI):
// the dialog's state, a level ended from outside, the break question's box,
// the program file. The other systems have no windows; their behaviour is
// covered by the other level tests.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kShowsWithinMs = 30000;
constexpr int kSettleMs = 300;

// While a held command runs (it waits for the release file) the dialog is
// minimized. The user cannot close it (the system menu or Alt+F4, Escape,
// Enter); ending the task (WM_CLOSE from outside) or the session lets the
// command finish, runs no further line, leaves the level visibly unfinished
// and does not start the caller again.
TEST(WindowsLevel, DialogWhileACommandRuns) {
  const struct {
    const char* name;
    std::vector<std::pair<UINT, WPARAM>> messages;
    bool ends;
  } cases[] = {{"user closes", {{WM_SYSCOMMAND, SC_CLOSE}, {WM_COMMAND, IDCANCEL}, {WM_COMMAND, IDOK}}, false},
               {"task end", {{WM_CLOSE, 0}}, true},
               {"session end", {{WM_QUERYENDSESSION, 0}, {WM_ENDSESSION, TRUE}}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LevelRunner runner;
    const std::string hold = LevelHelper(runner.Dir().path(), "hold");
    WriteFile(runner.Path("a.dat"), "a");
    if (c.ends) {
      fs::create_directories(runner.Path("caller"));
      runner.Set("ParentPrg", LevelHelper(runner.Path("caller"), "parent"));
    }
    runner.Set("Marke", "nr");  // the second brand's icon and caption
    std::atomic<bool> iconic{false}, still_there{false};
    std::thread outside([&] {
      HWND dialog = nullptr;
      if (WaitFor([&] { return (dialog = FindDialog(true)) != nullptr; }, kShowsWithinMs) &&
          WaitFor([&] { return fs::exists(runner.Path("started")); }, kShowsWithinMs)) {
        // Wine shows a modal dialog normally at its first idle moment; the
        // dialog minimizes itself again shortly.
        iconic = WaitFor([&] { return IsIconic(dialog) != FALSE; }, kShowsWithinMs);
        for (const auto& [message, wparam] : c.messages) PostMessageA(dialog, message, wparam, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        still_there = IsWindow(dialog) != FALSE;
      }
      WriteFile(runner.Path("release"), "");
    });
    const LevelResult r =
        runner.RunLevel("#5" + hold + "\t" + runner.Path("release") + "\t1\n#C" + runner.Path("a.dat") + "\tb.dat\n");
    outside.join();
    const std::string called = "OK - Programm/function call (" + hold + ")\r\n";
    EXPECT_TRUE(iconic);
    EXPECT_EQ(fs::exists(runner.Path("b.dat")), !c.ends);
    if (!c.ends) {
      EXPECT_TRUE(still_there);
      EXPECT_EQ(LevelBody(r.log, 1), called) << r.log;
      EXPECT_EQ(r.result, "1");
      continue;
    }
    EXPECT_EQ(LevelBody(r.log, 1, false), called) << r.log;
    EXPECT_EQ(r.checkpoint, Le32(2) + Le32(1) + Le32(0) + Le32(0));
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
  EXPECT_EQ(r.boxes[0].text, "An error occurred. Stop the update?");
  EXPECT_EQ(r.boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_NE(r.boxes[0].icon, nullptr);
  EXPECT_TRUE(r.boxes[0].topmost);
  EXPECT_TRUE(fs::exists(runner.Path("b.dat"))) << r.log;
  EXPECT_EQ(r.result, "0");
}

// A GUI program whose manifest asks for no elevation and names the systems
// it supports.
TEST(WindowsLevel, ProgramFileIsAGuiProgramWithItsManifest) {
  const std::string exe = ReadFile(VeupdProgram());
  ASSERT_GT(exe.size(), 0x40u);
  std::uint32_t pe = 0;
  std::memcpy(&pe, exe.data() + 0x3C, sizeof(pe));  // both little-endian
  ASSERT_EQ(exe.substr(pe, 4), std::string("PE\0\0", 4));
  // The subsystem, 68 bytes into the optional header behind the signature
  // and the file header.
  EXPECT_EQ(exe.substr(pe + 24 + 68, 2), std::string("\2\0", 2));

  HMODULE module = LoadLibraryExA(VeupdProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(res, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, res)));
  const std::string manifest(bytes, SizeofResource(module, res));
  FreeLibrary(module);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // 10 and 11
  EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // 7
}

}  // namespace
}  // namespace veupd::test
#endif  // _WIN32
