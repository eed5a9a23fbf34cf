// The app folder's logic: the progress dialog against a recording view (title line, icon and
// caption, bar, counter, the end of a level from outside) and the start-up parameters.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/progress_dialog.h"
#include "app/ve_update_app.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd {
namespace {

// Records what the dialog shows, one line per call; EndModal apart.
struct RecordingView : os::ProgressView {
  void SetRightToLeftLayout(bool) override {}
  void BringToForeground(std::uintptr_t w) override { calls += "foreground " + std::to_string(w) + "\n"; }
  int RunModal(os::ProgressViewEvents&) override { return 0; }
  void EndModal(int result) override { ended = result; }
  void PostCloseRequest() override {}
  void SetIcon(int id) override { calls += "icon " + std::to_string(id) + "\n"; }
  void SetCaption(std::string_view t) override { calls += "caption " + std::string(t) + "\n"; }
  void PlaceInBackground() override { calls += "background\n"; }
  void SetTitleLine(std::string_view t) override { calls += "title " + std::string(t) + "\n"; }
  void SetStatusLine(std::string_view t) override { calls += "status " + std::string(t) + "\n"; }
  void SetCounterText(std::string_view t) override { calls += "counter " + std::string(t) + "\n"; }
  void SetProgressPos(int p) override { calls += "bar " + std::to_string(p) + "\n"; }

  int ended = -1;
  std::string calls;
};

struct Texts : TextSource {
  std::string Text(std::uint32_t n) override {
    return n == kTitleWordText ? "Update" : n == kStatusText ? "Files are being updated" : "";
  }
};

class DialogTest : public ::testing::Test {
 protected:
  CVeUpdateDlg Make(std::string brand, std::int32_t level, std::uintptr_t window = 0) {
    return CVeUpdateDlg(view_, texts_, runner_, DialogParams{std::move(brand), level, window});
  }
  RecordingView view_;
  Texts texts_;
  LevelSetup setup_;
  CommandTable table_{};
  LevelRunner runner_{setup_, texts_, table_};
};

TEST(FormatCounter, GroupsOnlyTheLastSixDigits) {
  for (const auto& [value, text] : std::vector<std::pair<std::uint32_t, std::string>>{
           {0, "0"}, {999, "999"}, {1000, "1.000"}, {1234567, "1.234.567"}, {999999, "999.999"},
           {1000001, "1.000.001"}, {1234567890, "1234.567.890"}}) {
    EXPECT_EQ(FormatCounter(value), text);
  }
}

// The second brand (in any case) gets its caption and icon; a caller's
// window comes to the foreground.
TEST_F(DialogTest, InitialisationShowsTheBrandAndPlacesTheDialog) {
  const std::string status = "status Files are being updated\nbackground\n";
  Make("ve", 7, 4711).OnInitDialog();
  EXPECT_EQ(view_.calls, "icon " + std::to_string(os::kIconDefault) + "\ntitle VELA Update 7\n" + status +
                             "foreground 4711\n");
  view_.calls.clear();
  Make("NR", 3).OnInitDialog();
  EXPECT_EQ(view_.calls,
            "icon " + std::to_string(os::kIconSecondBrand) + "\ntitle NOR2 Update 3\ncaption NOR2 Update\n" + status);
}

// The bar and the counter are sent only when they change; the percentage
// is capped, and 0 equals the remembered start value. A close without a
// level ends the dialog as a success.
TEST_F(DialogTest, RefreshSendsOnlyChangesAndCloseWithoutLevelSucceeds) {
  CVeUpdateDlg dlg = Make("ve", 1);
  const std::uint32_t refreshes[][3] = {{0, 0, 0}, {4, 0, 0}, {4, 1, 0}, {4, 1, 0}, {4, 2, 1000},
                                        {4, 3, 1000}, {4, 9, 1234567}};
  for (const auto& r : refreshes) dlg.RefreshProgress(r[0], r[1], r[2]);
  EXPECT_EQ(view_.calls, "bar 0\nbar 25\nbar 50\ncounter 1.000\nbar 75\nbar 100\ncounter 1.234.567\n");
  dlg.OnCloseRequest();
  EXPECT_EQ(view_.ended, CVeUpdateDlg::kModalDone);
  EXPECT_TRUE(dlg.Succeeded());
}

// A command that runs until the test lets it go.
std::atomic<int> g_held_runs{0};
std::atomic<bool> g_release{false};
ErrorCode HeldCommand(CommandHost&) {
  ++g_held_runs;
  while (!g_release) os::SleepMs(1);
  return ErrorCode::Ok();
}

// The program is ended from outside while the first of two commands runs:
// that command finishes, the second never runs, and the dialog ends only
// on the thread's own close request, with the level marked unfinished.
TEST_F(DialogTest, EndFromOutsideStopsTheLevelBeforeItsNextCommand) {
  for (const bool session_end : {false, true}) {
    SCOPED_TRACE(session_end ? "session end" : "close from outside");
    test::TempDir dir;
    test::WriteFile(dir.path() / "ctrl.txt", "#1\t\n#1\t\n");
    setup_.control_file = dir / "ctrl.txt";
    setup_.log_dir = dir.str() + "/";
    setup_.program_dir = VEUPD_OUT_DIR;  // the pointer component
    table_[1] = &HeldCommand;
    g_held_runs = 0;
    g_release = false;
    view_ = RecordingView();
    LevelRunner runner(setup_, texts_, table_);
    CVeUpdateDlg dlg(view_, texts_, runner, DialogParams{"ve", 1, 0});
    dlg.OnIdle();
    dlg.OnIdle();
    while (g_held_runs == 0 && !runner.Finished()) os::SleepMs(1);
    ASSERT_EQ(g_held_runs, 1) << test::ReadFile(dir / "DedozUdu.log");
    if (session_end) {
      std::thread later([] { os::SleepMs(50); g_release = true; });
      dlg.OnSessionEnd();  // returns once the level has stopped
      later.join();
      EXPECT_FALSE(runner.Running());
    } else {
      dlg.OnCloseRequest();
      EXPECT_EQ(view_.ended, -1) << "the dialog must outlive the running level";
      g_release = true;
      while (!runner.Finished()) os::SleepMs(1);
    }
    dlg.OnCloseRequest();  // the thread's own request
    EXPECT_EQ(view_.ended, CVeUpdateDlg::kModalDone);
    EXPECT_EQ(g_held_runs, 1);
    EXPECT_TRUE(runner.Unfinished());
    EXPECT_FALSE(dlg.Succeeded());
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "UpdCtrl.log"));
  }
}

TEST(ParamFileFromCommandLine, TakesQuotedOrWholeTrimmedText) {
  for (const auto& [line, path] : std::vector<std::pair<std::string, std::string>>{
           {"C:\\UPD\\P.INI", "C:\\UPD\\P.INI"}, {"   C:\\P.INI  ", "C:\\P.INI"}, {"\"C:\\P.INI", ""}, {"   ", ""},
           {"\"C:\\My Dir\\P.INI\" more", "C:\\My Dir\\P.INI"},
           {"C:\\My Dir\\P.INI", "C:\\My Dir\\P.INI"}}) {  // a blank inside unquoted text stays
    EXPECT_EQ(ParamFileFromCommandLine(line), path) << line;
  }
}

TEST(PrepareLogDir, UsesTheControlFileFolderOrTheSubstitutedValue) {
  const UpdDirs dirs{"C:\\CAT", "", "C:\\U2"};
  const std::string sep(1, os::kNativeSeparator);
  EXPECT_EQ(PrepareLogDir("", "C:\\UPD\\CTRL.TXT", dirs), "C:\\UPD\\");
  EXPECT_EQ(PrepareLogDir("", "CTRL.TXT", dirs), "");
  EXPECT_EQ(PrepareLogDir("%2\\LOG", "C:\\UPD\\CTRL.TXT", dirs), "C:\\U2\\LOG" + sep);
  EXPECT_EQ(PrepareLogDir("%2\\LOG\\", "x", dirs), "C:\\U2\\LOG\\");
  // '%L' is not the level here.
  EXPECT_EQ(PrepareLogDir("%L", "x", dirs), "C:\\CAT" + sep);
}

}  // namespace
}  // namespace veupd
