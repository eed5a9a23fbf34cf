// The level log writer, the reporters' entries, the checkpoint path and a level without the pointer component.
#include "engine/level_runner.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine/log_class.h"
#include "engine/message_table.h"
#include "test_support.h"

namespace veupd {
namespace {

// Opened at the first entry; appends CR LF entries and flushes each at once.
TEST(CLogClass, OpensLazilyAndAppendsToWhatIsThere) {
  test::TempDir dir;
  test::WriteFile(dir / "a.log", "old\r\n");
  CLogClass log(dir / "a.log");
  EXPECT_FALSE(log.IsOpen());
  log.Write("one");
  log.Write("two\r\n\tParameter 1 : x");
  EXPECT_TRUE(log.IsOpen());  // and the entries are in the file already
  EXPECT_EQ(test::ReadFile(dir / "a.log"), "old\r\none\r\ntwo\r\n\tParameter 1 : x\r\n");
}

// The texts by number, and a dialog that counts its closes.
class Host : public TextSource, public LevelDialog {
 public:
  std::string Text(std::uint32_t number) override { return "text " + std::to_string(number); }
  void RefreshProgress(std::uint32_t, std::uint32_t, std::uint32_t) override {}
  void PostClose() override { ++closes; }
  int closes = 0;
};

const CommandTable kNoCommands{};  // these levels run no command

// A level of program folder dir, control file dir/ctrl.txt, log dir/level.log.
LevelSetup LevelIn(const test::TempDir& dir) {
  return {.upd_dirs = {}, .control_file = dir / "ctrl.txt", .log_dir = dir.str() + "/", .log_name = "level.log",
          .program_dir = dir.str(), .level = 4};
}

// Codes beyond the message table read as unknown; the checkpoint lives beside the control file.
TEST(UpdateThread, ShortReportRulesUnknownCodesAndTheCheckpointPath) {
  EXPECT_EQ(ErrorMessage(0xFFFF), ErrorMessage(31));
  EXPECT_EQ(CheckpointPath("C:\\UPD\\CTRL.TXT"), "C:\\UPD\\UpdCtrl.log");
  EXPECT_EQ(CheckpointPath("ctrl.txt"), "UpdCtrl.log");
  test::TempDir dir;
  Host host;
  LevelRunner runner(LevelIn(dir), host, kNoCommands);
  CUpdateThread& thread = runner.Worker();
  thread.ReportStep(true, "Copying 1 file(s)", ErrorCode::Ok());
  thread.ReportStep(false, "Copying", Err::kCannotCopy);
  thread.Context().short_report = true;
  thread.ReportStep(true, "hidden", ErrorCode::Ok());
  thread.ReportStep(false, "hidden", Err::kCannotCopy);
  thread.ReportStep(false, "hidden", ErrorCode::Ok());
  thread.ReportStep(false, "hidden", ErrorCode(Err::kPointerFailed, 2));
  EXPECT_EQ(test::ReadFile(dir / "level.log"),
            "OK - Copying 1 file(s)\r\nFailed - Copying\r\nFailed - 9\r\nFailed\r\nFailed - 18\r\n");
}

TEST(UpdateThread, MissingPointerComponentEndsTheLevelWithError19) {
  test::TempDir dir;
  Host host;
  LevelRunner runner(LevelIn(dir), host, kNoCommands);
  runner.Worker().Run();  // without a dialog: nothing
  EXPECT_FALSE(runner.Finished());
  EXPECT_FALSE(std::filesystem::exists(dir / "level.log"));
  test::WriteFile(dir / "ctrl.txt", "#1a\n");
  ASSERT_TRUE(runner.Start(host));
  ASSERT_TRUE(runner.WaitForEnd(10000, [](std::uint32_t ms) { os::SleepMs(ms); }));
  EXPECT_FALSE(runner.Start(host)) << "one level per runner";
  const std::string log = test::ReadFile(dir / "level.log");
  EXPECT_TRUE(log.starts_with("***----- Starting Update Level 4 -----***\r\n")) << log;
  EXPECT_TRUE(log.ends_with("Error : Cannot load DODUDAV.DLL               (Line 0, code 19, subcode 0)\r\n"
                            "\tParameter 1 : " + (dir / "dodudav.dll") + "\r\n"))
      << log;
  EXPECT_EQ(std::tuple(runner.Result(), runner.Finished(), runner.Running(), host.closes),
            std::tuple(1u, true, false, 1));
  EXPECT_FALSE(std::filesystem::exists(dir / "UpdCtrl.log"));
}

}  // namespace
}  // namespace veupd
