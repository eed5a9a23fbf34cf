// The level log writer, the reporters' entries, the checkpoint record and
// the level's end when the pointer component is missing, read back from the
// files they write.
#include "engine/level_runner.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/log_class.h"
#include "engine/message_table.h"
#include "test_support.h"

namespace veupd {
namespace {

// Opened at the first entry; appends CR LF entries and flushes each at once.
TEST(CLogClass, OpensLazilyAndAppendsToWhatIsThere) {
  test::TempDir dir;
  const std::string path = dir / "a.log";
  test::WriteFile(path, "old\r\n");
  CLogClass log(path);
  EXPECT_FALSE(log.IsOpen());
  log.Write("one");
  EXPECT_TRUE(log.IsOpen());
  EXPECT_EQ(test::ReadFile(path), "old\r\none\r\n");  // while the writer still holds the file
  log.Write("two\r\n\tParameter 1 : x");
  EXPECT_EQ(test::ReadFile(path), "old\r\none\r\ntwo\r\n\tParameter 1 : x\r\n");
}

class NoTexts : public TextSource {
 public:
  std::string Text(std::uint32_t number) override { return "text " + std::to_string(number); }
};

class ClosingDialog : public LevelDialog {
 public:
  void RefreshProgress(std::uint32_t, std::uint32_t, std::uint32_t) override {}
  void PostClose() override { ++closes; }
  int closes = 0;
};

ErrorCode Succeed(CommandHost&) { return ErrorCode::Ok(); }
const CommandTable kTable = {Succeed, Succeed, Succeed, Succeed, Succeed, Succeed, Succeed,
                             Succeed, Succeed, Succeed, Succeed, Succeed, Succeed, Succeed};

class UpdateThreadTest : public ::testing::Test {
 protected:
  LevelSetup MakeSetup() {
    LevelSetup setup;
    setup.log_dir = dir_.str() + "/";
    setup.log_name = "level.log";
    setup.program_dir = dir_.str();
    setup.control_file = dir_ / "ctrl.txt";
    setup.level = 4;
    return setup;
  }
  std::string Log() { return test::ReadFile(log_path_); }

  test::TempDir dir_;
  std::string log_path_ = dir_ / "level.log";
  NoTexts texts_;
  LevelRunner runner_{MakeSetup(), texts_, kTable};
  CUpdateThread& thread_ = runner_.Worker();
};

TEST_F(UpdateThreadTest, StepEntriesFollowTheShortReportRules) {
  thread_.ReportStep(true, "Copying 1 file(s)", ErrorCode::Ok());
  thread_.ReportStep(false, "Copying", Err::kCannotCopy);
  thread_.Context().short_report = true;
  thread_.ReportStep(true, "hidden", ErrorCode::Ok());
  thread_.ReportStep(false, "hidden", Err::kCannotCopy);
  thread_.ReportStep(false, "hidden", ErrorCode::Ok());
  thread_.ReportStep(false, "hidden", ErrorCode(Err::kPointerFailed, 2));
  EXPECT_EQ(Log(),
            "OK - Copying 1 file(s)\r\n"
            "Failed - Copying\r\n"
            "Failed - 9\r\n"
            "Failed\r\n"
            "Failed - 18\r\n");
}

TEST(MessageTable, CodesBeyondTheTableReadAsUnknownAndTheCheckpointLivesBesideTheControlFile) {
  EXPECT_EQ(ErrorMessage(0xFFFF), ErrorMessage(31));
  EXPECT_EQ(CheckpointPath("C:\\UPD\\CTRL.TXT"), "C:\\UPD\\UpdCtrl.log");
  EXPECT_EQ(CheckpointPath("ctrl.txt"), "UpdCtrl.log");
}

TEST_F(UpdateThreadTest, MissingPointerComponentEndsTheLevelWithError19) {
  thread_.Run();  // without a dialog: nothing
  EXPECT_FALSE(runner_.Finished());
  EXPECT_FALSE(std::filesystem::exists(log_path_));
  ClosingDialog dialog;
  test::WriteFile(dir_ / "ctrl.txt", "#1a\n");
  ASSERT_TRUE(runner_.Start(dialog));
  ASSERT_TRUE(runner_.WaitForEnd(10000, [](std::uint32_t ms) { os::SleepMs(ms); }));
  EXPECT_FALSE(runner_.Start(dialog)) << "one level per runner";
  const std::string log = Log();
  EXPECT_EQ(log.rfind("***----- Starting Update Level 4 -----***\r\n", 0), 0u) << log;
  const std::string entry = "Error : Cannot load DODUDAV.DLL               (Line 0, code 19, subcode 0)\r\n"
                            "\tParameter 1 : " + (dir_ / "dodudav.dll") + "\r\n";
  ASSERT_GE(log.size(), entry.size());
  EXPECT_EQ(log.substr(log.size() - entry.size()), entry);
  EXPECT_EQ(runner_.Result(), 1u);
  EXPECT_TRUE(runner_.Finished());
  EXPECT_FALSE(runner_.Running());
  EXPECT_EQ(dialog.closes, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "UpdCtrl.log"));
}

}  // namespace
}  // namespace veupd
