// The file and system commands through the real updater on temporary
// folders: what each leaves on disk and in the level log.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

namespace fs = std::filesystem;

const fs::path kOut = VEUPD_OUT_DIR;
const std::string kSep = IsWindowsBuild() ? "\\" : "/";

std::string N(const fs::path& p) { return p.string(); }

// One control line: prefix and opcode, then the fields joined by TABs.
std::string Line(std::string_view head, std::initializer_list<std::string> fields) {
  std::string line(head);
  bool first = true;
  for (const std::string& f : fields) {
    if (!first) line += '\t';
    line += f;
    first = false;
  }
  return line + "\n";
}

void MakeReadOnly(const fs::path& p) {
  fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// ---------------------------------------------------------------- copy

TEST(CopyLevel, TreeWithSubfoldersAndDotFoldersOntoExistingTargets) {
  LevelRunner runner;
  const fs::path src = runner.Dir().path() / "src";
  const fs::path dst = runner.Dir().path() / "dst";
  WriteFile(src / "a.dat", "new a");
  WriteFile(src / "sub" / "b.dat", "new b");
  WriteFile(src / ".svn" / "c.dat", "hidden");
  WriteFile(dst / "a.dat", "old a");
  WriteFile(dst / "a.$U$", "stale temporary");
  const std::string pattern = N(src / "*.*");
  const LevelResult r = runner.RunLevel(Line("#1", {pattern, N(dst)}));
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Copying 2 file(s) (" + pattern + " -> " + N(dst) + ")\r\n") << r.log;
  EXPECT_EQ(ReadFile(dst / "a.dat"), "new a");
  EXPECT_EQ(ReadFile(dst / "sub" / "b.dat"), "new b");
  EXPECT_FALSE(fs::exists(dst / "a.$U$"));
  EXPECT_FALSE(fs::exists(dst / ".svn"));
  EXPECT_EQ(r.result, "1");
}

TEST(CopyLevel, LogLinesOfEachOutcome) {
  LevelRunner runner;
  const fs::path d = runner.Dir().path();
  WriteFile(d / "src" / "ro.dat", "new");
  WriteFile(d / "ro" / "ro.dat", "old");
  MakeReadOnly(d / "ro" / "ro.dat");
  fs::create_directories(d / "src");
  struct Case {
    const char* name;
    std::string source, target, body;
  } cases[] = {
      {"read-only target", N(d / "src" / "ro.dat"), N(d / "ro"),
       ErrorEntry("Cannot delete file", 0, 5, 0, {{1, N(d / "ro" / "ro.dat")}}) +
           "Failed - Copying file(s) (" + N(d / "src" / "ro.dat") + " -> " + N(d / "ro") + ")\r\n"},
      {"pattern without match", N(d / "src" / "*.none"), N(d / "t1"),
       "OK - Copying 0 file(s) (" + N(d / "src" / "*.none") + " -> " + N(d / "t1") + ")\r\n"},
      {"trailing separator on target", N(d / "src" / "ro.dat"), N(d / "t2") + kSep,
       ErrorEntry("Cannot create directory", 0, 11, 0, {{1, N(d / "t2") + kSep}}) +
           "Failed - Copying file(s) (" + N(d / "src" / "ro.dat") + " -> " + N(d / "t2") + kSep + ")\r\n"},
      {"source missing", N(d / "src" / "gone.dat"), N(d / "t3"),
       ErrorEntry("Cannot open/read source file", 0, 7, 0, {{1, N(d / "src" / "gone.dat")}}) +
           "Failed - Copying file(s) (" + N(d / "src" / "gone.dat") + " -> " + N(d / "t3") + ")\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LevelResult r = runner.RunLevel(Line("#1", {c.source, c.target}));
    EXPECT_EQ(LevelBody(r.log, 1), c.body) << r.log;
  }
  EXPECT_EQ(ReadFile(d / "ro" / "ro.dat"), "old");
}

TEST(CopyLevel, OddNamesAndLongPaths) {
  LevelRunner runner;
  const fs::path d = runner.Dir().path();
  const std::string odd = "n\xe4me with blanks.dat";  // one Latin-1 byte
  WriteFile(d / "src dir" / odd, "odd");
  fs::path deep = d / "deep";
  for (int i = 0; i < 5; ++i) deep /= std::string(55, static_cast<char>('k' + i));
  WriteFile(deep / "far.dat", "far");
  const fs::path deep_target = deep / "target folder";
  if (!IsWindowsBuild()) {
    ASSERT_GT(N(deep_target / "far.dat").size(), 260u);
  }
  // A control line holds at most 255 characters: the long folder comes in
  // through a placeholder.
  runner.Set("UpdDir2", N(deep));
  const std::string control = Line("#1", {N(d / "src dir" / "*.dat"), N(d / "dst dir")}) +
                              (IsWindowsBuild() ? "" : Line("#1", {"%2/far.dat", "%2/target folder"}));
  const LevelResult r = runner.RunLevel(control);
  EXPECT_EQ(ReadFile(d / "dst dir" / odd), "odd") << r.log;
  if (!IsWindowsBuild()) {
    EXPECT_EQ(ReadFile(deep_target / "far.dat"), "far") << r.log;
  }
  EXPECT_EQ(r.result, "1") << r.log;
}

// ---------------------------------------------------------------- clean, empty

TEST(CleanLevel, CleanCountsAndEmptyRemovesFolders) {
  LevelRunner runner;
  const fs::path w = runner.Dir().path() / "work";
  WriteFile(w / "a.tmp", "");
  WriteFile(w / "x.tmp" / "b.tmp", "");
  WriteFile(w / "keep" / "c.tmp", "");
  const std::string dir_mask = N(w) + kSep + "*.tmp";
  const LevelResult r = runner.RunLevel(Line("#7", {N(w), "*.tmp"}) + Line("#2", {N(w), "*.tmp"}));
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Cleaning directory (3 files) (" + dir_mask + ")\r\n" +
                                     "OK - Cleaning directory (0 files) (" + dir_mask + ")\r\n")
      << r.log;
  EXPECT_FALSE(fs::exists(w / "x.tmp"));
  EXPECT_TRUE(fs::exists(w / "keep" / "c.tmp"));
}

TEST(CleanLevel, ReadOnlyFileStopsWithError21AndTheLevelGoesOn) {
  LevelRunner runner;
  const fs::path w = runner.Dir().path() / "work";
  WriteFile(w / "a.tmp", "");
  MakeReadOnly(w / "a.tmp");
  WriteFile(runner.Path("r.dat"), "r");
  const LevelResult r = runner.RunLevel(Line("#2", {N(w), "*.tmp"}) + Line("#C", {runner.Path("r.dat"), "s.dat"}));
  EXPECT_EQ(LevelBody(r.log, 1), ErrorEntry("Cannot delete/empty directory", 0, 21, 0, {{1, N(w / "a.tmp")}}) +
                                     "Failed - Empty directory (" + N(w) + kSep + "*.tmp)\r\n")
      << r.log;
  EXPECT_TRUE(fs::exists(w / "a.tmp"));
  EXPECT_TRUE(fs::exists(runner.Path("s.dat")));
  EXPECT_EQ(r.result, "0");
}

// ---------------------------------------------------------------- rename

TEST(RenameLevel, SuccessIsSilentAndATakenNameIsError29) {
  LevelRunner runner;
  WriteFile(runner.Path("a.dat"), "a");
  WriteFile(runner.Path("b.dat"), "b");
  const LevelResult r = runner.RunLevel(Line("#C", {runner.Path("a.dat"), "c.dat"}) +
                                        Line("#C", {runner.Path("b.dat"), "c.dat"}));
  EXPECT_EQ(LevelBody(r.log, 1), ErrorEntry("Cannot rename file", 1, 29, 0,
                                            {{1, runner.Path("b.dat")}, {2, runner.Path("c.dat")}}))
      << r.log;
  EXPECT_EQ(ReadFile(runner.Path("c.dat")), "a");
  EXPECT_EQ(ReadFile(runner.Path("b.dat")), "b");
}

// ---------------------------------------------------------------- edit ini

TEST(EditIniLevel, ExactBytesAfterEachAction) {
  LevelRunner runner;
  const std::string ini = runner.Path("app.ini");
  WriteFile(ini, "[Main]\r\nmode=1\r\nold=x\r\n\r\n[Other]\r\nz=9\r\n");
  const LevelResult r = runner.RunLevel(Line("#3", {ini, "T", "main", "MODE"}) +
                                        Line("#3", {ini, "D", "Main", "old"}) +
                                        Line("#3", {ini, "A", "Main", "new", "v w"}) +
                                        Line("#3", {ini, "U", "Fresh", "k", "1"}) +
                                        Line("#3", {runner.Path("none.ini"), "U", "S", "k", "1"}) +
                                        Line("#3", {ini, "x", "Main", "k", "1"}));
  EXPECT_EQ(ReadFile(ini), "[Main]\r\nMODE=2\r\nnew=v w\r\n\r\n[Other]\r\nz=9\r\n\r\n[Fresh]\r\nk=1\r\n");
  EXPECT_FALSE(fs::exists(runner.Path("none.ini")));
  const std::string ok = "OK - Editing ini file (" + ini;
  EXPECT_EQ(LevelBody(r.log, 1), ok + " -> T)\r\n" + ok + " -> D)\r\n" + ok + " -> A)\r\n" + ok +
                                     " -> U)\r\nOK - Editing ini file (" + runner.Path("none.ini") +
                                     " -> U)\r\n" +
                                     ErrorEntry("Unknown paramter", 5, 6, 0, {{1, "x"}}) +
                                     "Failed - Edit inifile (" + ini + ")\r\n")
      << r.log;
}

// ---------------------------------------------------------------- program, DLL

class CallLevel : public ::testing::Test {
 protected:
  void SetUp() override {
    tools = runner.Dir().path() / "tools";
    fs::create_directories(tools);
    fs::copy_file(kOut / "record_args.exe", tools / "record_args.exe");
    fs::copy_file(kOut / "test_dll.dll", tools / "test_dll.dll");
  }
  LevelRunner runner;
  fs::path tools;
};

TEST_F(CallLevel, ProgramExitCodeIsParameter3) {
  const std::string prog = N(tools / "record_args.exe");
  const LevelResult r = runner.RunLevel(Line("#5", {prog, "exit=4", "1"}) + Line("#5", {prog, "x y", "1"}));
  EXPECT_EQ(LevelBody(r.log, 1), ErrorEntry("CreateProcess failed", 0, 23, 0,
                                            {{1, prog}, {2, " exit=4"}, {3, "4"}}) +
                                     "Failed - Programm/function call (" + prog + ")\r\n" +
                                     "OK - Programm/function call (" + prog + ")\r\n")
      << r.log;
  const std::string recorded = ReadFile(tools / "record_args.txt");
  EXPECT_NE(recorded.find("\narg=x y\n"), std::string::npos) << recorded;
}

TEST_F(CallLevel, DllResultsAndFailures) {
  const std::string dll = N(tools / "test_dll.dll");
  WriteFile(tools / "text.dll", "not a library");
  const std::string step = "Programm/function call (" + dll + ")\r\n";
  const LevelResult r = runner.RunLevel(Line("#5", {dll, "t", "ReturnZero"}) +
                                        Line("#5", {dll, "t", "ReturnHighOnly"}) +
                                        Line("#5", {dll, "t", "ReturnFive"}) +
                                        Line("#5", {dll, "t", "Missing"}) +
                                        Line("#5", {N(tools / "text.dll"), "t", "ReturnZero"}));
  EXPECT_EQ(LevelBody(r.log, 1),
            "OK - " + step + "OK - " + step +
                ErrorEntry("Function call in DLL failed", 2, 26, 5, {{1, dll}, {2, "ReturnFive"}, {3, "t"}, {4, "5"}}) +
                "Failed - " + step +
                ErrorEntry("Cannot find function in DLL", 3, 25, 0, {{1, dll}, {2, "Missing"}}) +
                "Failed - " + step +
                ErrorEntry("Cannot load DLL (LoadLibrary failed)", 4, 24, 0, {{1, N(tools / "text.dll")}}) +
                "Failed - Programm/function call (" + N(tools / "text.dll") + ")\r\n")
      << r.log;
  EXPECT_EQ(r.exit_status, 1);
}

TEST_F(CallLevel, LevelWaitsForAProgramUntilItEnds) {
  const std::string prog = N(tools / "record_args.exe");
  auto level = std::async(std::launch::async, [&] {
    return runner.RunLevel(Line("#5", {prog, "\"wait\" exit=9", "1"}) + Line("#C", {prog, "moved.exe"}));
  });
  for (int i = 0; i < 500 && !fs::exists(tools / "record_args.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(fs::exists(tools / "record_args.txt"));
  EXPECT_EQ(level.wait_for(std::chrono::seconds(1)), std::future_status::timeout);
  WriteFile(tools / "stop", "");  // ends the program
  ASSERT_EQ(level.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const LevelResult r = level.get();
  EXPECT_EQ(LevelBody(r.log, 1), ErrorEntry("CreateProcess failed", 0, 23, 0,
                                            {{1, prog}, {2, " \"wait\" exit=9"}, {3, "9"}}) +
                                     "Failed - Programm/function call (" + prog + ")\r\n")
      << r.log;
  EXPECT_TRUE(fs::exists(tools / "moved.exe"));  // the level went on
}

// ---------------------------------------------------------------- conditional

TEST(ConditionalLevel, NestedCopyRunsOnlyWithItsDirectorySet) {
  LevelRunner runner;
  const fs::path d = runner.Dir().path();
  WriteFile(d / "u3" / "f.dat", "f");
  runner.Set("UpdDir3", N(d / "u3"));
  const LevelResult r = runner.RunLevel(Line("#9", {"31%3" + kSep + "*.*", N(d / "t3")}) +
                                        Line("#9", {"41%3" + kSep + "*.*", N(d / "t4")}));
  const std::string pattern = N(d / "u3") + kSep + "*.*";
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Conditional executing command 1\r\n"
                                 "OK - Copying 1 file(s) (" + pattern + " -> " + N(d / "t3") + ")\r\n"
                                 "OK - Conditional not executed, 4 was empty\r\n")
      << r.log;
  EXPECT_EQ(ReadFile(d / "t3" / "f.dat"), "f");
  EXPECT_FALSE(fs::exists(d / "t4"));
}

TEST(ConditionalLevel, NestedBreakEndsTheLevelAndDigitNineCountsNoError) {
  LevelRunner runner;
  runner.Set("UpdDir1", "set");
  WriteFile(runner.Path("a.dat"), "a");
  const LevelResult r = runner.RunLevel(Line("#9", {"19"}) + Line("#C", {"", ""}) +
                                        Line("#9", {"18"}) + Line("#C", {runner.Path("a.dat"), "b.dat"}));
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Conditional executing command 9\r\n"
                                 "Failed - Conditional command (9) not found !\r\n" +
                                     ErrorEntry("Needed parameter is missing", 1, 4, 0, {{1, "PARAM1"}}) +
                                     "Failed - Rename\r\n"
                                     "OK - Conditional executing command 8\r\n" +
                                     ErrorEntry("Break after error", 2, 27))
      << r.log;
  EXPECT_TRUE(fs::exists(runner.Path("a.dat")));  // the line after the break never ran
  EXPECT_EQ(r.exit_status, 1);
}

}  // namespace
}  // namespace veupd::test
