// The progress dialog's logic against a recording view: title line, icon
// and caption, percentage, counter text and the remembered state.
#include "app/progress_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace veupd {
namespace {

class RecordingView : public os::ProgressView {
 public:
  void SetRightToLeftLayout(bool) override {}
  void BringToForeground(std::uintptr_t w) override { foreground.push_back(w); }
  int RunModal(os::ProgressViewEvents&) override { return 0; }
  void EndModal(int result) override { ended = result; }
  void PostCloseRequest() override { ++close_requests; }
  void SetIcon(int id) override { icon = id; }
  void SetCaption(std::string_view t) override { caption = t; }
  void PlaceInBackground() override { placed = true; }
  void SetTitleLine(std::string_view t) override { title = t; }
  void SetStatusLine(std::string_view t) override { status = t; }
  void SetCounterText(std::string_view t) override { counters.emplace_back(t); }
  void SetProgressPos(int p) override { positions.push_back(p); }

  std::vector<std::uintptr_t> foreground;
  int ended = -1;
  int close_requests = 0;
  int icon = 0;
  std::string caption = "VELA Update";
  bool placed = false;
  std::string title;
  std::string status;
  std::vector<std::string> counters;
  std::vector<int> positions;
};

class Texts : public TextSource {
 public:
  std::string Text(std::uint32_t n) override {
    if (n == 118) return "Update";
    if (n == 3977) return "Files are being updated";
    return "";
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
  EXPECT_EQ(FormatCounter(0), "0");
  EXPECT_EQ(FormatCounter(999), "999");
  EXPECT_EQ(FormatCounter(1000), "1.000");
  EXPECT_EQ(FormatCounter(1234567), "1.234.567");
  EXPECT_EQ(FormatCounter(999999), "999.999");
  EXPECT_EQ(FormatCounter(1000001), "1.000.001");
  EXPECT_EQ(FormatCounter(1234567890), "1234.567.890");
}

TEST_F(DialogTest, InitialisationSetsTitleStatusAndPlacement) {
  CVeUpdateDlg dlg = Make("ve", 7, 4711);
  dlg.OnInitDialog();
  EXPECT_EQ(view_.title, "VELA Update 7");
  EXPECT_EQ(view_.status, "Files are being updated");
  EXPECT_EQ(view_.icon, os::kIconDefault);
  EXPECT_EQ(view_.caption, "VELA Update");  // the resource caption stays
  EXPECT_TRUE(view_.placed);
  EXPECT_EQ(view_.foreground, std::vector<std::uintptr_t>{4711});
}

TEST_F(DialogTest, SecondBrandInCapitalsGetsItsCaptionAndIcon) {
  CVeUpdateDlg dlg = Make("NR", 3);
  dlg.OnInitDialog();
  EXPECT_EQ(view_.caption, "NOR2 Update");
  EXPECT_EQ(view_.icon, os::kIconSecondBrand);
  EXPECT_EQ(view_.title, "NOR2 Update 3");
  EXPECT_TRUE(view_.foreground.empty());
}

// The bar and the counter are sent only when they change; the percentage
// is capped, and 0 equals the remembered start value.
TEST_F(DialogTest, RefreshSendsOnlyChanges) {
  CVeUpdateDlg dlg = Make("ve", 1);
  const std::uint32_t refreshes[][3] = {{0, 0, 0}, {4, 0, 0}, {4, 1, 0}, {4, 1, 0}, {4, 2, 1000},
                                        {4, 3, 1000}, {4, 9, 1234567}};
  for (const auto& r : refreshes) dlg.RefreshProgress(r[0], r[1], r[2]);
  EXPECT_EQ(view_.positions, (std::vector<int>{0, 25, 50, 75, 100}));
  EXPECT_EQ(view_.counters, (std::vector<std::string>{"1.000", "1.234.567"}));
}

TEST_F(DialogTest, CloseWithoutLevelEndsTheDialogAsSuccess) {
  CVeUpdateDlg dlg = Make("ve", 1);
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
      std::thread later([] {
        os::SleepMs(50);
        g_release = true;
      });
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

}  // namespace
}  // namespace veupd
