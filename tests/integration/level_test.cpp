// One level through the real updater: the run loop and its reporting, break after error, the
// control-file reader, the checkpoint file and the result handed back; on Windows (under Wine in
// CI) also the dialog and the break question's box as a user and the system meet them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "integration/level_runner.h"
#include "platform/platform.h"

namespace veupd::test {
namespace {

// In a case's texts "{d}" stands for the runner's folder and a separator, "{D}" for the
// folder alone, "{cut}" for the helper that cuts the file it is given to its first line.
std::string Expand(std::string text, const LevelRunner& runner) {
  if (text.find("{cut}") != std::string::npos) LevelHelper(runner.Dir().path(), "cut");
  const std::pair<const char*, std::string> marks[] = {
      {"\\{d\\}", runner.Path("")}, {"\\{D\\}", runner.Dir().str()}, {"\\{cut\\}", runner.Path("cut.exe")}};
  for (const auto& [mark, dir] : marks) text = std::regex_replace(text, std::regex(mark), dir);
  return text;
}

std::string Missing(int line, const char* param = "PARAM1") {
  return ErrorEntry("Needed parameter is missing", line, 4, {param});
}
const std::string kFailedRename = Missing(0) + "Failed - Rename\r\n";
const std::string kBreak = ErrorEntry("Break after error", 1, 27);

TEST(Level, ControlTextsGiveTheseEntriesFilesAndResults) {
  struct Case {
    const char* name;
    Keys set;                                                // parameters, "{d}" expanded
    std::vector<std::pair<std::string, std::string>> files;  // written before
    std::string control, body;
    int errors;                                      // the result is 1 only without errors
    std::vector<std::string> there = {}, gone = {};  // files after the level
    std::string err = "";                            // standard error before the summary line
  };
  const std::string rename = "#C{d}a.dat\tb.dat\n";
  const Case cases[] = {
      {"empty list: only the banners", {}, {}, "", "", 0},
      {"missing control file", {{"File", "{d}none.txt"}}, {}, "",
       ErrorEntry("Cannot open update file", 0, 2, {"{d}none.txt"}), 1},
      {"a failed line does not stop the next", {}, {{"a.dat", "a"}}, "#C\t\n" + rename, kFailedRename, 1, {"b.dat"},
       {"a.dat"}},
      {"after an error only '#' and '=' run", {}, {{"q.dat", "x"}, {"m.dat", "x"}, {"h.dat", "x"}, {"e.dat", "x"}},
       "#C\t\n?C{d}q.dat\tq2.dat\n-C{d}m.dat\tm2.dat\n#C{d}h.dat\th2.dat\n=C{d}e.dat\te2.dat\n", kFailedRename, 1,
       {"q.dat", "m.dat", "h2.dat", "e2.dat"}},
      {"short report logs only the code", {}, {}, "=C\t\n-C\t\n", Missing(0) + "Failed - 4\r\n", 1},
      {"errors counted, lines from zero", {}, {}, "#C\t\n#C\t\n=C\t\n",
       kFailedRename + Missing(1) + "Failed - Rename\r\n" + Missing(2) + "Failed - 4\r\n", 3},
      {"checkpoint of an interrupted level goes", {}, {{"UpdCtrl.log", "old"}}, "#C\t\n", kFailedRename, 1},
      {"break without an error", {}, {{"a.dat", "a"}}, "#8\t\n" + rename, "", 0, {"b.dat"}},
      {"break after an error ends the level", {}, {{"a.dat", "a"}}, "#C\t\n#8\t\n" + rename, kFailedRename + kBreak,
       2, {"a.dat"}, {"b.dat"}},
      // Standard error is no terminal: the question is written and counts as Yes.
      {"break asks", {}, {}, "#C\t\n#81\n", kFailedRename + kBreak, 2, {}, {}, "An error occurred. Stop the update?\n"},
      {"break never asks under server automation", {}, {{"parent.ini", ParamText({{"ServerAutomation", "1"}})}},
       "#C\t\n#81\n", kFailedRename + kBreak, 2},
      {"break skipped as a '?' line", {}, {{"a.dat", "a"}}, "#C\t\n?8\t\n" + rename, kFailedRename, 1, {"b.dat"}},
      {"nested break ends the level, a nested unknown opcode is no error", {{"UpdDir1", "set"}}, {{"a.dat", "a"}},
       "#919\n#C\t\n#918\n" + rename,
       "OK - Conditional executing command 9\r\nFailed - Conditional command (9) not found !\r\n" + Missing(1) +
           "Failed - Rename\r\nOK - Conditional executing command 8\r\n" + ErrorEntry("Break after error", 2, 27),
       2, {"a.dat"}},
      {"patch line without its update file", {}, {}, "#Bx\n", Missing(0, "PARAM2") + "Failed - Fix-Update (x)\r\n", 1},
      {"lines behind an empty line are never read", {}, {}, "#C\t\r\n\r\n#C\t\r\n", kFailedRename, 1},
      // '%3' is the folder, '%C' (UpdDir12) the new name; '\\' separates everywhere.
      {"placeholders", {{"UpdDir3", "{D}"}, {"UpdDir12", "c.dat"}}, {{"a.dat", "a"}}, "#C%3\\a.dat\t%C\n", "", 0,
       {"c.dat"}, {"a.dat"}},
      {"control file cut short while the level runs", {}, {}, "#C{d}none.dat\tx.dat\n#5{cut}\t{d}ctrl.txt\t1\n#C\t\n",
       ErrorEntry("Cannot rename file", 0, 29, {"{d}none.dat", "{d}x.dat"}) +
           "OK - Programm/function call ({cut})\r\n" + ErrorEntry("Cannot open update file", 2, 2, {"{d}ctrl.txt"}),
       2},
      {"rename onto a taken name", {}, {{"a.dat", "a"}, {"b.dat", "b"}}, "#C{d}a.dat\tc.dat\n#C{d}b.dat\tc.dat\n",
       ErrorEntry("Cannot rename file", 1, 29, {"{d}b.dat", "{d}c.dat"}), 1, {"b.dat", "c.dat"}, {"a.dat"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LevelRunner runner;
    for (const auto& [key, value] : c.set) runner.Set(key, Expand(value, runner));
    for (const auto& [name, content] : c.files) WriteFile(runner.Path(name), content);
    const LevelResult r = runner.RunLevel(Expand(c.control, runner));
    EXPECT_EQ(LevelBody(r.log, 1), Expand(c.body, runner)) << r.log;
    EXPECT_EQ(r.result, c.errors == 0 ? "1" : "0");
    EXPECT_EQ(r.exit_status, c.errors == 0 ? 0 : 1);
    EXPECT_EQ(r.err, c.err + runner.Summary(c.errors));
    EXPECT_FALSE(r.checkpoint.has_value());
    for (const auto& name : c.there) EXPECT_TRUE(runner.Exists(name)) << name;
    for (const auto& name : c.gone) EXPECT_FALSE(runner.Exists(name)) << name;
  }
}

// A later level replaces the log unless InPlaceMode is exactly 1. A log held
// by another writer loses the level's entries but not the level.
TEST(Level, SecondLevelReplacesTheLogUnlessInPlaceModeIsExactlyOne) {
  LevelRunner runner;
  ASSERT_TRUE(LevelBody(runner.RunLevel("").log, 1).has_value());
  runner.Set("Level", "2");
  runner.Set("InPlaceMode", "2");
  EXPECT_EQ(LevelBody(runner.RunLevel("").log, 2), "");

  runner.Set("Level", "3");
  runner.Set("InPlaceMode", "1");
  const LevelResult third = runner.RunLevel("#C\t\n");
  const std::size_t split = third.log.find("***----- Starting Update Level 3");  // npos throws below
  EXPECT_EQ(LevelBody(third.log.substr(0, split), 2), "");
  EXPECT_EQ(LevelBody(third.log.substr(split), 3), kFailedRename);

  WriteFile(runner.Path("a.dat"), "a");
  LevelResult r;
  {
    os::File held;
    ASSERT_TRUE(held.Open(runner.LogFile(), os::OpenMode::kReadWriteExisting).ok());
    r = runner.RunLevel("#C" + runner.Path("a.dat") + "\tb.dat\n#C\t\n");
  }
  EXPECT_EQ(ReadFile(runner.LogFile()), third.log);
  EXPECT_TRUE(runner.Exists("b.dat"));
  EXPECT_EQ(r.result, "0");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, runner.Summary(1, 3));
}

#ifdef _WIN32
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
    if (c.ends) runner.Set("ParentPrg", LevelHelper(runner.Dir().path(), "parent"));
    runner.Set("Marke", "nr");  // the second brand's icon and caption
    std::atomic<bool> iconic{false}, still_there{false};
    std::thread outside([&] {
      HWND dialog = nullptr;
      if (WaitFor([&] { return (dialog = FindDialog(true)) != nullptr; }) &&
          WaitFor([&] { return runner.Exists("started"); })) {
        // Wine shows a modal dialog normally at its first idle moment; the
        // dialog minimizes itself again shortly.
        iconic = WaitFor([&] { return IsIconic(dialog) != FALSE; });
        for (const auto& [message, wparam] : c.messages) PostMessageA(dialog, message, wparam, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        still_there = IsWindow(dialog) != FALSE;
      }
      WriteFile(runner.Path("release"), "");
    });
    const LevelResult r =
        runner.RunLevel("#5" + hold + "\t" + runner.Path("release") + "\t1\n#C" + runner.Path("a.dat") + "\tb.dat\n");
    outside.join();
    EXPECT_TRUE(iconic);
    EXPECT_TRUE(still_there);
    EXPECT_EQ(LevelBody(r.log, 1, !c.ends), "OK - Programm/function call (" + hold + ")\r\n") << r.log;
    EXPECT_EQ(runner.Exists("b.dat"), !c.ends);
    EXPECT_EQ(r.checkpoint, c.ends ? std::optional(Le32(2) + Le32(1) + Le32(0) + Le32(0)) : std::nullopt);
    EXPECT_EQ(r.result, c.ends ? "0" : "1");
    EXPECT_EQ(r.exit_status, c.ends ? 1 : 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(runner.Exists("parent.ini.seen")) << "the caller was started again";
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
  EXPECT_TRUE(runner.Exists("b.dat")) << r.log;
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
  // The subsystem: 68 bytes into the optional header, after the signature and the file header.
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
#endif  // _WIN32

}  // namespace
}  // namespace veupd::test
