// One level through the real updater: the run loop and its reporting, break
// after error, the control-file reader, the checkpoint file and the result
// handed back.
#include <gtest/gtest.h>

#include "integration/level_runner.h"
#include "platform/platform.h"

namespace veupd::test {
namespace {

// In a case's texts "{d}" stands for the runner's folder and a separator,
// "{D}" for the folder alone, "{cut}" for the helper that cuts the file it is
// given down to its first line.
std::string Expand(std::string text, const LevelRunner& runner) {
  if (text.find("{cut}") != std::string::npos) LevelHelper(runner.Dir().path(), "cut");
  const std::pair<std::string, std::string> marks[] = {
      {"{d}", runner.Path("")}, {"{D}", runner.Dir().str()}, {"{cut}", runner.Path("cut.exe")}};
  for (const auto& [mark, dir] : marks) {
    for (std::size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), dir);
  }
  return text;
}

const std::string kMissing1 = ErrorEntry("Needed parameter is missing", 0, 4, 0, {{1, "PARAM1"}});
const std::string kFailedRename = kMissing1 + "Failed - Rename\r\n";
const std::string kBreak = ErrorEntry("Break after error", 1, 27);

TEST(Level, ControlTextsGiveTheseEntriesFilesAndResults) {
  struct Case {
    const char* name;
    Keys set;                                      // parameters, "{d}" expanded
    std::vector<std::pair<std::string, std::string>> files;  // written before
    std::string control;
    std::string body;
    int errors;                     // the result is 1 only without errors
    std::vector<std::string> there, gone;  // files after the level
    std::string err = "<summary>";  // standard error, "<summary>" for the summary line alone
  };
  const std::string rename = "#C{d}a.dat\tb.dat\n";
  const std::vector<Case> cases = {
      {"empty list: only the banners", {}, {}, "", "", 0, {}, {}},
      {"missing control file", {{"File", "{d}none.txt"}}, {}, "",
       ErrorEntry("Cannot open update file", 0, 2, 0, {{1, "{d}none.txt"}}), 1, {}, {}},
      {"a failed line does not stop the next", {}, {{"a.dat", "a"}}, "#C\t\n" + rename, kFailedRename, 1, {"b.dat"},
       {"a.dat"}},
      {"after an error only '#' and '=' lines run", {}, {{"q.dat", "x"}, {"m.dat", "x"}, {"h.dat", "x"}, {"e.dat", "x"}},
       "#C\t\n?C{d}q.dat\tq2.dat\n-C{d}m.dat\tm2.dat\n#C{d}h.dat\th2.dat\n=C{d}e.dat\te2.dat\n", kFailedRename, 1,
       {"q.dat", "m.dat", "h2.dat", "e2.dat"}, {}},
      {"short report logs only the code", {}, {}, "=C\t\n-C\t\n", kMissing1 + "Failed - 4\r\n", 1, {}, {}},
      {"errors counted, lines from zero", {}, {}, "#C\t\n#C\t\n=C\t\n",
       kFailedRename + ErrorEntry("Needed parameter is missing", 1, 4, 0, {{1, "PARAM1"}}) + "Failed - Rename\r\n" +
           ErrorEntry("Needed parameter is missing", 2, 4, 0, {{1, "PARAM1"}}) + "Failed - 4\r\n",
       3, {}, {}},
      {"checkpoint of an interrupted level goes", {}, {{"UpdCtrl.log", "old"}}, "#C\t\n", kFailedRename, 1, {}, {}},
      {"break without an error", {}, {{"a.dat", "a"}}, "#8\t\n" + rename, "", 0, {"b.dat"}, {}},
      {"break after an error ends the level", {}, {{"a.dat", "a"}}, "#C\t\n#8\t\n" + rename, kFailedRename + kBreak,
       2, {"a.dat"}, {"b.dat"}},
      // Standard error is no terminal: the question is written and counts as Yes.
      {"break asks", {}, {}, "#C\t\n#81\n", kFailedRename + kBreak, 2, {}, {},
       "An error occurred. Stop the update?\n<summary>"},
      {"break never asks under server automation", {}, {{"parent.ini", ParamText({{"ServerAutomation", "1"}})}},
       "#C\t\n#81\n", kFailedRename + kBreak, 2, {}, {}},
      {"break skipped as a '?' line", {}, {{"a.dat", "a"}}, "#C\t\n?8\t\n" + rename, kFailedRename, 1, {"b.dat"}, {}},
      {"nested break ends the level, a nested unknown opcode is no error", {{"UpdDir1", "set"}}, {{"a.dat", "a"}},
       "#919\n#C\t\n#918\n" + rename,
       "OK - Conditional executing command 9\r\nFailed - Conditional command (9) not found !\r\n" +
           ErrorEntry("Needed parameter is missing", 1, 4, 0, {{1, "PARAM1"}}) +
           "Failed - Rename\r\nOK - Conditional executing command 8\r\n" + ErrorEntry("Break after error", 2, 27),
       2, {"a.dat"}, {}},
      {"patch line without its update file", {}, {}, "#Bx\n",
       ErrorEntry("Needed parameter is missing", 0, 4, 0, {{1, "PARAM2"}}) + "Failed - Fix-Update (x)\r\n", 1, {}, {}},
      {"lines behind an empty line are never read", {}, {}, "#C\t\r\n\r\n#C\t\r\n", kFailedRename, 1, {}, {}},
      // '%3' is the folder, '%C' (UpdDir12) the new name; '\\' separates everywhere.
      {"placeholders", {{"UpdDir3", "{D}"}, {"UpdDir12", "c.dat"}}, {{"a.dat", "a"}}, "#C%3\\a.dat\t%C\n", "", 0,
       {"c.dat"}, {"a.dat"}},
      {"control file cut short while the level runs", {}, {},
       "#C{d}none.dat\tx.dat\n#5{cut}\t{d}ctrl.txt\t1\n#C\t\n",
       ErrorEntry("Cannot rename file", 0, 29, 0, {{1, "{d}none.dat"}, {2, "{d}x.dat"}}) +
           "OK - Programm/function call ({cut})\r\n" +
           ErrorEntry("Cannot open update file", 2, 2, 0, {{1, "{d}ctrl.txt"}}),
       2, {}, {}},
      {"rename onto a taken name", {}, {{"a.dat", "a"}, {"b.dat", "b"}}, "#C{d}a.dat\tc.dat\n#C{d}b.dat\tc.dat\n",
       ErrorEntry("Cannot rename file", 1, 29, 0, {{1, "{d}b.dat"}, {2, "{d}c.dat"}}), 1, {"b.dat", "c.dat"},
       {"a.dat"}},
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
    std::string err = c.err;
    err.replace(err.find("<summary>"), 9, runner.Summary(c.errors));
    EXPECT_EQ(r.err, err);
    EXPECT_FALSE(r.checkpoint.has_value());
    for (const auto& name : c.there) EXPECT_TRUE(std::filesystem::exists(runner.Path(name))) << name;
    for (const auto& name : c.gone) EXPECT_FALSE(std::filesystem::exists(runner.Path(name))) << name;
  }
}

// A later level replaces the log unless InPlaceMode is exactly 1. A log held
// by another writer loses the level's entries but not the level.
TEST(Level, SecondLevelReplacesTheLogUnlessInPlaceModeIsExactlyOne) {
  LevelRunner runner;
  ASSERT_TRUE(LevelBody(runner.RunLevel("").log, 1).has_value());
  runner.Set("Level", "2");
  runner.Set("InPlaceMode", "2");
  const LevelResult second = runner.RunLevel("");
  EXPECT_EQ(LevelBody(second.log, 2), "") << second.log;

  runner.Set("Level", "3");
  runner.Set("InPlaceMode", "1");
  const LevelResult third = runner.RunLevel("#C\t\n");
  const std::size_t split = third.log.find("***----- Starting Update Level 3");
  ASSERT_NE(split, std::string::npos);
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
  EXPECT_TRUE(std::filesystem::exists(runner.Path("b.dat")));
  EXPECT_EQ(r.result, "0");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, runner.Summary(1, 3));
}

}  // namespace
}  // namespace veupd::test
