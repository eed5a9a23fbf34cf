// Start-up through the real updater: the messages for missing parameters, the level number, the
// log location, the result handed back, the program-update preparation, a second updater refused.
#include <gtest/gtest.h>

#include "integration/level_runner.h"
#include "platform/platform.h"

namespace veupd::test {
namespace {

// Start-up failures: one message on stderr, exit status 2, nothing written.
TEST(Startup, MissingParametersShowTheirMessageAndEnd) {
  const struct {
    const char* name;
    std::vector<std::string> remove;
    Keys set;
    std::string err;  // after the parameter file path where it starts with " :"
  } cases[] = {
      {"no Msg", {"Msg"}, {}, " :\n[UPDATE]\nMsg = ? !\n"},
      {"no Language", {"Language"}, {}, " :\n[UPDATE]\nLanguage = ? !\n"},
      {"message file missing", {}, {{"Msg", "nowhere.str"}}, "Error !\nMessage file not available !\n"},
      {"message file missing, German", {}, {{"Msg", "x.str"}, {"Language", "D"}},
       "Fehler !\nMessage-Datei nicht verf\xfcgbar !\n"},
      {"language without table", {}, {{"Language", "X"}}, "Error !\nMessage file not available !\n"},
      {"no File", {"File"}, {}, "Parameter File is missing !\n"},
  };
  for (const auto& c : cases) {
    LevelRunner runner;
    for (const auto& key : c.remove) runner.Remove(key);
    for (const auto& [key, value] : c.set) runner.Set(key, value);
    const LevelResult r = runner.RunLevel("#C\t\n");
    EXPECT_EQ(r.err, (c.err[0] == ' ' ? runner.ParamFile() : "") + c.err) << c.name;
    EXPECT_EQ(r.exit_status, 2) << c.name;
    EXPECT_TRUE(r.log.empty() && !r.result) << c.name;
  }
  EXPECT_EQ(RunProgram({}, TempDir().path()).exit_status, 2) << "no parameter file at all";
}

// --help and --version only as the whole command line; a parameter file that
// gives nothing gets, beside the designed message, a line that says why.
TEST(Startup, CommandLineAndUnreadableParameterFiles) {
  if (IsWindowsBuild()) GTEST_SKIP() << "shows a message box, which waits for a click";
  TempDir dir;
  const std::string out = dir / "out.txt";
  for (const char* option : {"--help", "--version"}) {
    EXPECT_EQ(std::system(("\"" + VeupdProgram() + "\" " + option + " >\"" + out + "\"").c_str()), 0);
    EXPECT_EQ(ReadFile(out).rfind(option[2] == 'h' ? "usage: veupd PARAMETER-FILE\n" : "veupd ", 0), 0u);
  }
  EXPECT_EQ(RunProgram({}, dir.path()).err.rfind("usage: veupd PARAMETER-FILE\n", 0), 0u);
  // Anything more is a parameter file path.
  const ProgramRun run = RunProgram({"--help", "x"}, dir.path());
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("--help x :\n[UPDATE]\nMsg = ? !"), std::string::npos) << run.err;

  const std::string params = dir / "upd.ini";
  const std::pair<const char*, const char*> unreadable[] = {
      {nullptr, "not found or not readable"},
      {"", "the file is empty"},
      {"[UPDATE]\nMsg=x\nLanguage=E\n", "lines end in LF alone; INI files are read with CR LF line ends only"}};
  for (const auto& [content, why] : unreadable) {
    if (content != nullptr) WriteFile(params, content);
    const ProgramRun r = RunProgram({params}, dir.path());
    EXPECT_EQ(r.exit_status, 2) << why;
    EXPECT_EQ(r.err, params + " :\n[UPDATE]\nMsg = ? !\nveupd: parameter file " + params + ": " + why + "\n");
  }
}

// The log's folder and name come from the parameters; without its folder the
// level runs without a log.
TEST(Startup, LogNameAndDirectoryFromTheParameters) {
  LevelRunner runner;
  fs::create_directories(runner.Path("u2/LOG"));
  runner.Set("UpdDir2", runner.Path("u2"));
  runner.Set("LogFileDir", "%2/LOG");
  runner.Set("LogFileName", "upd%03d.log");
  runner.Set("Level", "12");
  EXPECT_EQ(runner.RunLevel("").log, "");
  EXPECT_EQ(LevelBody(ReadFile(runner.Path("u2/LOG/upd012.log")), 12), "");

  runner.Set("LogFileDir", runner.Path("no_such_dir"));
  runner.Remove("LogFileName");
  WriteFile(runner.Path("a.dat"), "a");
  const LevelResult r = runner.RunLevel("#C" + runner.Path("a.dat") + "\tb.dat\n");
  EXPECT_TRUE(runner.Exists("b.dat"));
  EXPECT_FALSE(runner.Exists("no_such_dir"));
  EXPECT_EQ(r.err, IsWindowsBuild() ? "" : "veupd: level 12 finished without errors; no log written (" +
                                                runner.Path("no_such_dir") + "/DedozUdu.log)\n");
  EXPECT_EQ(r.result, "1");
  EXPECT_EQ(r.exit_status, 0);
}

// The result goes into the (quoted) parent parameter file, then the parent
// program starts; without parent parameters nothing is written back.
TEST(Startup, ResultGoesToTheParentParameterFileThenTheParentProgramStarts) {
  LevelRunner runner;
  runner.Set("ParentParams", "\"" + runner.Path("parent.ini") + "\"");
  runner.Set("ParentPrg", LevelHelper(runner.Dir().path(), "parent"));  // copies the file it is given
  WriteFile(runner.Path("parent.ini"), ParamText({{"Other", "x"}}));
  EXPECT_EQ(runner.RunLevel("#C\t\n").result, "0");
  EXPECT_EQ(IniValue(ReadFile(runner.Path("parent.ini")), "Other"), "x");
  for (int i = 0; i < 100 && !runner.Exists("parent.ini.seen"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(IniValue(ReadFile(runner.Path("parent.ini.seen")), "DedozUduResult"), "0");
  EXPECT_TRUE(!IsWindowsBuild() || ReadFile(runner.Path("show_command.txt")) == "1") << "shown normally";

  runner.Remove("ParentParams");
  runner.Remove("ParentPrg");
  fs::remove(runner.Path("parent.ini"));
  EXPECT_FALSE(runner.RunLevel("").result.has_value());
}

// Program-update preparation: what is left of the program folder UpdDir8,
// its "_Sav" and the marker in UpdDirPrg after a level. A folder that cannot
// be made ends the run before the level: a message (none under server
// automation), no log, no result.
TEST(Startup, ProgramUpdatePreparation) {
  const struct {
    const char* name;
    std::vector<std::string> prg_files;  // in UpdDirPrg ("" makes only a hidden folder)
    Keys set;                            // "UpdDir8" below the runner's folder
    std::vector<std::string> old_files;  // below the folder before the level
    std::vector<std::string> there, gone;
    int status = 0;
    bool automated = false;
  } cases[] = {
      // X = UpdDir8 without its last character exists, UpdDir8 does not: X moves there.
      {"below 100", {"new.exe"}, {{"LevelPrg", "5"}, {"UpdDir8", "old~"}}, {"old/a.txt"},
       {"prg/upd006.log", "old~/a.txt"}, {"old"}},
      {"from 100 on", {"new.exe"}, {{"LevelPrg", "99"}, {"UpdDir8", "old~"}}, {"old/a.txt"},
       {"prg/upd100.log", "old~/a.txt"}, {"old"}},
      {"old folder deleted through _Sav", {"new.exe"}, {{"UpdDir8", "p8/"}}, {"p8/sub/a.txt", "p8/b.txt"},
       {"prg/upd001.log"}, {"p8", "p8_Sav"}},
      {"missing folder created", {"new.exe"}, {{"UpdDir8", "p8/"}}, {}, {"p8"}, {}},
      {"empty update folder prepares nothing", {}, {{"UpdDir8", "p8/"}}, {}, {}, {"p8", "prg/upd001.log"}},
      {"folder not made", {"new.exe"}, {{"UpdDir8", "blocker/sub/"}, {"Marke", "NR"}}, {"blocker"}, {}, {}, 2},
      {"folder not made, automated", {"new.exe"}, {{"UpdDir8", "blocker/sub/"}, {"Marke", "NR"}}, {"blocker"}, {},
       {}, 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LevelRunner runner;
    const auto dir = runner.Dir().path();
    fs::create_directories(dir / "prg" / ".hidden");
    for (const auto& name : c.prg_files) WriteFile(dir / "prg" / name, "x");
    for (const auto& name : c.old_files) WriteFile(dir / name, "a");
    // A read-only file does not keep the old folder from going.
    if (!c.old_files.empty()) MakeReadOnly(dir / c.old_files.back());
    if (c.automated) WriteFile(runner.Path("parent.ini"), ParamText({{"ServerAutomation", "1"}}));
    runner.Set("UpdDirPrg", runner.Path("prg"));
    for (const auto& [key, value] : c.set) runner.Set(key, key == "UpdDir8" ? runner.Path("") + value : value);
    const LevelResult r = runner.RunLevel("");
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.err, c.status == 0  ? runner.Summary(0)
                     : c.automated ? ""
                                   : "Cannot create " + runner.Path("blocker") + "/sub\n");
    EXPECT_EQ(r.result, c.status == 0 ? std::optional<std::string>("1") : std::nullopt);
    EXPECT_EQ(r.log.empty(), c.status != 0);
    for (const auto& name : c.there) EXPECT_TRUE(runner.Exists(name)) << name;
    for (const auto& name : c.gone) EXPECT_FALSE(runner.Exists(name)) << name;
    EXPECT_TRUE(c.set[0].first != "LevelPrg" || fs::file_size(dir / c.there[0]) == 0) << "the marker";
  }
}

// A second updater on the control file of a running one refuses at once:
// its message, exit status 2, no result written back, the running level's
// log and checkpoint left alone.
TEST(SecondRun, RefusedWhileTheControlFileIsInUse) {
  if (IsWindowsBuild()) GTEST_SKIP() << "shows a message box, which waits for a click";
  LevelRunner runner;
  WriteFile(runner.LogFile(), "log of the running level\r\n");
  WriteFile(runner.CheckpointFile(), std::string(16, '\1'));
  WriteFile(runner.Path("parent.ini"), "[UPDATE]\r\n");
  {
    os::File held;  // as a running updater holds it
    ASSERT_TRUE(held.Open(runner.Path("UpdCtrl.lck"), os::OpenMode::kReadWriteCreate).ok());
    const LevelResult r = runner.RunLevel("#C\t\n");
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.err, "Another update is already running with the control file " + runner.ControlFile() + ".\n");
    EXPECT_FALSE(r.result.has_value());
    EXPECT_EQ(r.log, "log of the running level\r\n");
    EXPECT_EQ(r.checkpoint, std::string(16, '\1'));
  }
  // Once the lock is free (the file of a killed run may still be there) the
  // level runs, and the lock file goes with it.
  const LevelResult r = runner.RunLevel("#C\t\n");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.result, "0");
  EXPECT_NE(r.log.find("Starting Update Level 1"), std::string::npos);
  EXPECT_FALSE(runner.Exists("UpdCtrl.lck"));
}

}  // namespace
}  // namespace veupd::test
