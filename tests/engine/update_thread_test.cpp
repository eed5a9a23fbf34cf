// The reporters' entries, the checkpoint record and the level's end when
// the pointer component is missing, read back from the files they write.
#include "engine/update_thread.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/message_table.h"
#include "test_support.h"

namespace veupd {
namespace {

class NoTexts : public TextSource {
 public:
  std::string Text(std::uint32_t number) override { return "text " + std::to_string(number); }
};

class RecordingDialog : public LevelDialog {
 public:
  void RefreshProgress(std::uint32_t, std::uint32_t, std::uint32_t) override { ++refreshes; }
  void PostClose() override { ++closes; }
  void OnCrcProgress(std::uint32_t, std::uint32_t, std::uint32_t) override {}
  int refreshes = 0;
  int closes = 0;
};

ErrorCode Succeed(CommandHost&) { return ErrorCode::Ok(); }
const CommandTable kTable = {Succeed, Succeed, Succeed, Succeed, Succeed, Succeed, Succeed,
                             Succeed, Succeed, Succeed, Succeed, Succeed, Succeed, Succeed};

class UpdateThreadTest : public ::testing::Test {
 protected:
  UpdateThreadTest() : thread_(state_, texts_, kTable) {
    thread_.SetLogPath(log_path_);
  }
  std::string Log() { return test::ReadFile(log_path_); }

  test::TempDir dir_;
  std::string log_path_ = dir_ / "level.log";
  LevelState state_;
  NoTexts texts_;
  CUpdateThread thread_;
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

TEST(MessageTable, CodesBeyondTheTableReadAsUnknown) {
  EXPECT_EQ(ErrorMessage(0xFFFF), ErrorMessage(31));
}

TEST(Checkpoint, FileLivesBesideTheControlFile) {
  EXPECT_EQ(CheckpointPath("C:\\UPD\\CTRL.TXT"), "C:\\UPD\\UpdCtrl.log");
  EXPECT_EQ(CheckpointPath("ctrl.txt"), "UpdCtrl.log");
}

// Error paths.
TEST_F(UpdateThreadTest, RunWithoutDialogDoesNothing) {
  thread_.Run();
  EXPECT_FALSE(state_.finished);
  EXPECT_FALSE(std::filesystem::exists(log_path_));
}

TEST_F(UpdateThreadTest, MissingPointerComponentEndsTheLevelWithError19) {
  RecordingDialog dialog;
  thread_.SetDialog(&dialog);
  thread_.SetProgramDir(dir_.str());
  thread_.SetControlFile(dir_ / "ctrl.txt");
  test::WriteFile(dir_ / "ctrl.txt", "#1a\n");
  state_.level = 4;
  thread_.Run();
  const std::string log = Log();
  EXPECT_EQ(log.rfind("***----- Starting Update Level 4 -----***\r\n", 0), 0u) << log;
  const std::string entry = "Error : Cannot load DODUDAV.DLL               (Line 0, code 19, subcode 0)\r\n"
                            "\tParameter 1 : " + (dir_ / "dodudav.dll") + "\r\n";
  ASSERT_GE(log.size(), entry.size());
  EXPECT_EQ(log.substr(log.size() - entry.size()), entry);
  EXPECT_EQ(log.find("Terminating"), std::string::npos);
  EXPECT_EQ(state_.result, 1u);
  EXPECT_TRUE(state_.finished);
  EXPECT_FALSE(state_.running);
  EXPECT_EQ(dialog.closes, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "UpdCtrl.log"));
}

}  // namespace
}  // namespace veupd
