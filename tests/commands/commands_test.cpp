// The commands through a fake host on real files: program and function call (5) with the helper program and library
// built beside the tests, copy files (1) also under failing file primitives.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include "commands/call_program.h"
#include "commands/clean_directory.h"
#include "commands/conditional.h"
#include "commands/copy_files.h"
#include "commands/create_pointer.h"
#include "commands/edit_ini_file.h"
#include "commands/fake_host.h"
#include "commands/rename_file.h"
#include "commands/update_fdb.h"
#include "fault_support.h"
#include "platform/platform.h"
#include "tables/update_fdb_test_db.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace veupd::test {
namespace {

namespace fs = std::filesystem;
using os::fault::Call;
using Files = std::map<std::string, std::string>;  // '/' separated name -> content

void Put(const fs::path& root, const Files& files) {
  for (const auto& [name, content] : files) WriteFile(root / name, content);
}

TEST(ConditionalTest, SelectorRunsTheNestedCommandWithShortenedParam1OrNothing) {
  struct Case {
    std::string param1;
    int dir;              // the one UpdDir set
    std::int32_t opcode;  // -1: nothing runs
    std::string nested_param1;
  } cases[] = {{"31C:\\src\\*.*", 3, 1, "C:\\src\\*.*"}, {"J5prog.exe", 19, 5, "prog.exe"}, {"A7dir", 10, 7, "dir"},
               {"0xdata", 0, 0, "data"}, {"28", 2, 8, ""}, {"31x", 1, -1, ""}, {"a1x", 10, -1, ""},  // 'a' is not 'A'
               {"K1x", 10, -1, ""}, {"*1x", 10, -1, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param1);
    FakeHost host;
    host.ctx.upd_dir.fill("");
    host.ctx.upd_dir[static_cast<std::size_t>(c.dir)] = "set";
    host.dispatch_result = ErrorCode(Err::kCannotCopy);  // passed on
    EXPECT_EQ(host.Run(RunConditional, {c.param1, "P2", "P3", "P4", "P5"}),
              c.opcode < 0 ? ErrorCode() : Err::kCannotCopy);
    ExpectOutcome(host, ErrorCode(), 0, {},
                  c.opcode < 0 ? "Conditional not executed, " + c.param1.substr(0, 1) + " was empty"
                               : "Conditional executing command " + std::to_string(c.opcode));
    ASSERT_EQ(host.dispatched.size(), c.opcode < 0 ? 0u : 1u);
    if (c.opcode < 0) continue;
    const auto& nested = host.dispatched[0];  // ctx.opcode is kept after the call
    EXPECT_EQ(std::tuple(nested.opcode, host.ctx.opcode, nested.params[0], nested.params[4]),
              std::tuple(c.opcode, c.opcode, c.nested_param1, "P5"));
  }
  FakeHost host;
  ExpectOutcome(host, host.Run(RunConditional, {}), 4, {"PARAM1"}, "Conditional");
}

TEST(RenameTest, RefusalsAndTheirLogLines) {
  TempDir dir;
  const Files files = {{"a.dat", "A"}, {"taken.dat", "T"}};
  Put(dir.path(), files);
  const std::string a = dir / "a.dat", sub = std::string("sub") + os::kNativeSeparator + "b.dat";
  struct Case {
    std::string p1, p2;
    std::uint16_t code;
    Strings params;
    std::string step;  // "" = no step line
  } cases[] = {
      {"", "b.dat", 4, {"PARAM1"}, "Rename"}, {a, "", 4, {"PARAM2"}, "Rename (" + a + ")"},
      {a, sub, 8, {sub}, ""},                 {"a.dat", "b.dat", 8, {"a.dat"}, ""},
      {a, "taken.dat", 29, {a, dir / "taken.dat"}, ""},
      {dir / "none.dat", "n.dat", 29, {dir / "none.dat", dir / "n.dat"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p1 + " " + c.p2);
    FakeHost host;
    ExpectOutcome(host, host.Run(RunRename, {c.p1, c.p2}), c.code, c.params, c.step);
  }
  EXPECT_EQ(Snapshot(dir.path()), files);
}

// The bytes each action leaves in the file; a refused line touches nothing.
TEST(EditIniFileTest, ActionsLeaveTheseBytes) {
  const auto none = std::nullopt;  // no file
  struct Case {
    std::optional<std::string> before;
    std::string action, section, key, value;
    std::optional<std::string> after;
    std::uint16_t code;
    Strings params;
  } cases[] = {
      {none, "A", "S", "k", "v", "\r\n[S]\r\nk=v\r\n", 0, {}},  // add creates a missing file
      {"[S]\r\na=1\r\n", "U", "S", "k", "v", "[S]\r\na=1\r\nk=v\r\n\r\n", 0, {}},  // update adds a missing key
      {"[S]\r\nk=1\r\n", "U", "S", "k", "9", "[S]\r\nk=9\r\n", 0, {}},
      {none, "U", "S", "k", "v", none, 0, {}},  // update on a missing file writes nothing
      {none, "D", "S", "a", "", "", 0, {}},
      {"[S]\r\nk= 2 \r\n", "T", "S", "k", "", "[S]\r\nk=1\r\n", 0, {}},  // toggles
      {"[S]\r\nk=0\r\n", "T", "S", "k", "", "[S]\r\nk=1\r\n", 0, {}},
      {"[S]\r\nk=on\r\n", "T", "S", "k", "", "[S]\r\nk=1\r\n", 0, {}},
      {"[S]\r\na=x\r\n", "T", "S", "k", "", "[S]\r\na=x\r\nk=1\r\n\r\n", 0, {}},
      {"[S]\r\nk=1\r\n", "T", "S", "k", "7", "[S]\r\nk=2\r\n", 0, {}},  // the value slot is ignored
      {none, "T", "S", "k", "", none, 0, {}},
      {none, "", "S", "k", "v", none, 4, {"PARAM2"}},       {none, "A", "", "k", "v", none, 4, {"PARAM3"}},
      {none, "A", "S", "", "v", none, 4, {"PARAM4"}},       {none, "A", "S", "k", "", none, 4, {"PARAM5", "A"}},
      {none, "U", "S", "k", "", none, 4, {"PARAM5", "U"}},  {none, "X", "S", "k", "", none, 4, {"PARAM5", "X"}},
      {none, "a", "S", "k", "v", none, 6, {"a"}},           {none, "AA", "S", "k", "v", none, 6, {"AA"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action + " " + c.key + " " + c.value + " " + c.before.value_or("(none)"));
    TempDir dir;
    const std::string ini = dir / "app.ini";
    if (c.before) WriteFile(ini, *c.before);
    FakeHost host;
    ExpectOutcome(host, host.Run(RunEditIniFile, {ini, c.action, c.section, c.key, c.value}), c.code, c.params,
                  c.code == 0 ? "Editing ini file (" + ini + " -> " + c.action + ")" : "Edit inifile (" + ini + ")");
    EXPECT_EQ(fs::exists(ini) ? std::optional(ReadFile(ini)) : std::nullopt, c.after);
  }
  FakeHost host;
  ExpectOutcome(host, host.Run(RunEditIniFile, {"", "A", "S", "k", "v"}), 4, {"PARAM1"}, "Edit inifile");
}

TEST(CreatePointerTest, OutcomesAndTheirEntries) {
  TempDir dir;
  const std::string s = dir / "T.STR", data_dir = dir / "DATA";
  const std::string data = Native(dir, "DATA/TAB0042.DAT"), index = Native(dir, "DATA/PTR0042.IDX");
  const std::string step = "Creating pointer (" + s + ")";
  const std::string var = StructureFile("TAB@.DAT", "PTR@.IDX");
  struct Case {
    std::string structure;  // the structure file's bytes
    bool data_there;
    Strings params;
    std::uint32_t code;   // its subcode is the pointer component's value
    Strings error, call;  // the error's parameters, the pointer call
    std::string step;
  } cases[] = {
      {var, true, {s, data_dir, "0042"}, 0, {}, {s, data, index}, step},
      {var, false, {s, data_dir, "0042"}, 0, {}, {}, "Skipped creating pointer (" + s + ")"},
      {StructureFile("TAB0042.DAT", "PTR0042.IDX"), true, {s, data_dir}, 3u * 65536u + 18u, {s, data, index},
       {s, data, index}, step},
      {"short", false, {s, data_dir}, 17, {s}, {}, step},
      {StructureFile("TAB@.DAT", "PTR.IDX"), false, {s, data_dir, "1"}, 8, {Native(dir, "DATA/PTR.IDX")},
       {}, step},
      {var, false, {}, 4, {"PARAM1"}, {}, "Creating pointer"},
      {var, false, {s}, 4, {"PARAM2"}, {}, step}, {var, false, {s, data_dir}, 4, {"PARAM3"}, {}, step},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    WriteFile(s, c.structure);
    fs::remove(data);
    WriteFile(index, "stale");
    if (c.data_there) WriteFile(data, "x");
    FakeHost host;
    host.pointer_result = static_cast<int>(c.code >> 16);
    ExpectOutcome(host, host.Run(RunCreatePointer, c.params), c.code, c.error, c.step);
    EXPECT_EQ(host.pointer_calls, c.call.empty() ? std::vector<Strings>{} : std::vector<Strings>{c.call});
    EXPECT_EQ(fs::exists(index), c.step.rfind("Skipped", 0) != 0);  // goes with its data file
  }
}

TEST(UpdateFdbCommandTest, FormsAndFailures) {
  TempDir dir;
  constexpr std::size_t kKey = 5;
  fdb::WriteDb(dir, kKey, {{"B.DAT", "b"}, {"D.DAT", "d"}});
  FakeHost host;
  ExpectOutcome(host, host.Run(RunUpdateFdb, {"", "DELETE", "B.DAT"}), 4, {"PARAM1"}, "FDB Update");

  // PARAM1 and PARAM2 without PARAM3 name a control list.
  const std::string none = dir / "none.txt", list = dir / "ctl.txt";
  host = FakeHost();
  EXPECT_EQ(host.Run(RunUpdateFdb, {none}).code(), 30);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].params, Strings{none});
  ASSERT_EQ(host.steps.size(), 2u);
  EXPECT_EQ(host.steps[0].text + host.steps[1].text,
            "Updating FDB using file (" + none + ")Could not open file " + none + "!\n");

  WriteFile(list, (dir / "DATA.FDB") + "\tDELETE\tD.DAT\n");
  host = FakeHost();
  ExpectOutcome(host, host.Run(RunUpdateFdb, {list, "DELETE"}), 0, {}, "Updating FDB using file (" + list + ")");
  const auto parsed = fdb::ReadDb(dir, kKey);
  EXPECT_EQ(parsed.problem, "");
  EXPECT_EQ(parsed.records, (std::vector<fdb::Rec>{{"B.DAT", "b"}}));
}

// The folder "work" the clean tests start from.
fs::path Tree(const TempDir& dir) {
  for (const char* name : {"a.tmp", "b.dat", "x.tmp/c.tmp", "x.tmp/keep.dat", "y.tmp/d.tmp", "old/e.tmp", ".svn/f.tmp"})
    WriteFile(dir.path() / "work" / name, "");
  return dir.path() / "work";
}

std::string DirAndMask(const std::string& d, const std::string& mask) { return d + os::kNativeSeparator + mask; }

// Clean keeps folders, empty removes the emptied ones and counts them; others and dot folders are never entered.
TEST(CleanDirectoryTest, RemovesMatchingFilesCountsThemAndStopsAtAReadOnlyOne) {
  struct Case {
    bool empty;
    std::string folder, mask;
    Strings gone, there;
    std::uint32_t count;
  } cases[] = {
      {false, "work", "*.tmp", {"a.tmp", "x.tmp/c.tmp", "y.tmp/d.tmp"},
       {"b.dat", "x.tmp/keep.dat", "y.tmp", "old/e.tmp", ".svn/f.tmp"}, 3},
      // a.tmp, c.tmp, d.tmp and y.tmp; x.tmp keeps a file and stays silently.
      {true, "work", "*.tmp", {"a.tmp", "x.tmp/c.tmp", "y.tmp"}, {"b.dat", "x.tmp/keep.dat", "old/e.tmp", ".svn/f.tmp"},
       4},
      {true, "work", "*.*", {"a.tmp", "b.dat", "x.tmp", "y.tmp", "old"}, {".svn/f.tmp"}, 9},
      {false, "nothing", "*.*", {}, {}, 0},
      {false, "work", "*.none", {}, {"a.tmp"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + " " + c.mask);
    TempDir dir;
    const fs::path root = Tree(dir);
    const std::string folder = dir / c.folder;
    FakeHost host;
    ExpectOutcome(host, host.Run(c.empty ? RunEmptyDirectory : RunCleanDirectory, {folder, c.mask}), 0, {},
                  "Cleaning directory (" + std::to_string(c.count) + " files) (" + DirAndMask(folder, c.mask) + ")");
    for (const auto& name : c.gone) EXPECT_FALSE(fs::exists(root / name)) << name;
    for (const auto& name : c.there) EXPECT_TRUE(fs::exists(root / name)) << name;
    EXPECT_EQ(std::pair(host.file_counter, host.checkpoint.done_items), std::pair(c.count, c.count));
  }
  for (const CommandFn run : {RunCleanDirectory, RunEmptyDirectory}) {
    for (const auto& [p1, p2, slot] : {std::tuple{"", "*.*", "PARAM1"}, std::tuple{"d", "", "PARAM2"}}) {
      FakeHost host;
      ExpectOutcome(host, host.Run(run, {p1, p2}), 4, {slot}, "Empty directory (" + DirAndMask(p1, p2) + ")");
    }
  }
  // A read-only file stops the command with 21, its step line with 0.
  TempDir dir;
  const fs::path root = Tree(dir);
  MakeReadOnly(root / "x.tmp" / "c.tmp");
  FakeHost host;
  ExpectOutcome(host, host.Run(RunEmptyDirectory, {root.string(), "*.tmp"}), 21, {(root / "x.tmp" / "c.tmp").string()},
                "Empty directory (" + DirAndMask(root.string(), "*.tmp") + ")", 0);
  // Name order: a.tmp went before, y.tmp after the stop.
  EXPECT_FALSE(fs::exists(root / "a.tmp"));
  EXPECT_TRUE(fs::exists(root / "y.tmp" / "d.tmp"));
  EXPECT_EQ(host.file_counter, 1u);
}

const fs::path kOut = VEUPD_OUT_DIR;

std::string N(const fs::path& p) { return p.string(); }

class ProgramCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work);
    fs::copy_file(kOut / "record_args.exe", program);
    fs::copy_file(kOut / "test_dll.dll", library);
  }
  TempDir dir;
  fs::path work = dir.path() / "tool dir", program = work / "record_args.exe", library = work / "test_dll.dll";
  FakeHost host;
};

TEST_F(ProgramCallTest, WaitedProgramGetsArgumentsAndFolderAndBringsTheDialogBack) {
  fs::copy_file(program, work / "RECORD.EXE");
  // record_args writes "cwd=..." and then "arg=..." lines.
  for (const auto& [exe, args, seen] : {std::tuple{"record_args.exe", "x", "arg=x\n"},
                                        {"record_args.exe", "a b", "arg=a b\n"},  // a blank makes one argument
                                        {"record_args.exe", "\"p q\" r", "arg=p q\narg=r\n"},  // passed as written
                                        {"RECORD.EXE", "y", "arg=y\n"}}) {  // the extension compares ignoring case
    SCOPED_TRACE(args);
    host = FakeHost();
    fs::remove(work / "record_args.txt");
    ExpectOutcome(host, host.Run(RunProgramCall, {N(work / exe), args, "wait"}), 0, {},
                  "Programm/function call (" + N(work / exe) + ")");
    const std::string text = ReadFile(work / "record_args.txt");
    const std::size_t eol = text.find('\n');
    ASSERT_NE(eol, std::string::npos);
    EXPECT_TRUE(fs::equivalent(text.substr(4, eol - 4), work));
    EXPECT_EQ(text.substr(eol + 1), seen);
  }
  // The dialog comes back only after a wait, also one that ends in an error.
  host = FakeHost();
  EXPECT_TRUE(host.Run(RunProgramCall, {N(program), "x"}).ok());
  EXPECT_EQ(host.foreground_calls, 0);
  EXPECT_EQ(host.Run(RunProgramCall, {N(program), "exit=4", "1"}).raw(), 23u);
  EXPECT_EQ(host.foreground_calls, 1);
}

// Many rounds: a call that leaves the stack four bytes off (a Windows-API style function called the C way on 32-bit
// Windows) ends in a crash or wrong results long before the last one.
TEST_F(ProgramCallTest, DllFunctionsOfBothCallingConventions) {
  for (const auto& [function, code] : {std::pair{"ReturnZero", 0u}, {"StdcallZero", 0u},
                                       {"ReturnFive", 26u + (5u << 16)}, {"StdcallSeven", 26u + (7u << 16)}}) {
    for (int round = 0; round < 10; ++round)
      ASSERT_EQ(host.Run(RunProgramCall, {N(library), "text", function}).raw(), code) << function << " round " << round;
  }
}

#ifdef _WIN32
// The started program gets show command 5, and while the command waits for it the thread keeps handling its window
// messages: a message sent to one of its windows is answered before the program ends.
TEST_F(ProgramCallTest, StartedProgramIsShownAndTheWaitHandlesMessages) {
  constexpr UINT kPing = WM_APP + 7;
  constexpr UINT kAnswerWithinMs = 5000;
  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  bool answered = false;
  std::thread sender([&] {
    DWORD_PTR result = 0;
    // The program is running and being waited for once it wrote its record.
    for (int i = 0; i < 500 && !fs::exists(work / "show_command.txt"); ++i) Sleep(10);
    answered = SendMessageTimeoutA(window, kPing, 0, 0, SMTO_NORMAL, kAnswerWithinMs, &result) != 0;
    WriteFile(work / "stop", "");
  });
  const ErrorCode rc = host.Run(RunProgramCall, {N(program), "wait", "1"});
  sender.join();
  DestroyWindow(window);
  EXPECT_TRUE(rc.ok());
  EXPECT_TRUE(answered) << "the wait did not handle the thread's messages";
  EXPECT_EQ(ReadFile(work / "show_command.txt"), "5");
}
#endif

TEST_F(ProgramCallTest, RefusedCalls) {
  WriteFile(work / "not_a_library.dll", "just text");
  const std::string none = N(work / "none.exe"), bad = N(work / "not_a_library.dll");
  struct Case {
    std::string p1, p2, p3;
    std::uint16_t code;
    Strings params;
  } cases[] = {
      {"", "x", "", 4, {"PARAM1"}}, {N(program), "", "", 4, {"PARAM2"}},
      {N(work / "tool"), "x", "", 8, {N(work / "tool")}},  // no dot
      {"record_args.exe", "x", "", 8, {"record_args.exe"}},  // no folder
      {N(work / "run.bat"), "x", "", 22, {N(work / "run.bat")}}, {none, "a b", "1", 23, {none, " \"a b\""}},
      {N(library), "x", "", 4, {"PARAM3"}},  // no function
      {N(work / "none.dll"), "x", "F", 24, {N(work / "none.dll")}}, {bad, "x", "F", 24, {bad}},
      {N(library), "x", "NoSuchFunction", 25, {N(library), "NoSuchFunction"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p1 + " " + c.p3);
    host = FakeHost();
    ExpectOutcome(host, host.Run(RunProgramCall, {c.p1, c.p2, c.p3}), c.code, c.params,
                  c.p1.empty() ? "Programm/function call" : "Programm/function call (" + c.p1 + ")");
  }
}

// Where the file system folds case, which spelling a replaced name keeps is not visible: compare the names folded.
Files AsSeen(const Files& files, bool folds) {
  Files seen;
  for (const auto& [name, content] : files) {
    std::string key = name;
    for (char& ch : key) ch = folds ? static_cast<char>(std::tolower(static_cast<unsigned char>(ch))) : ch;
    seen[key] = content;
  }
  return seen;
}

// Each copy run twice: the second one finds every target the first made.
TEST(CopyFilesTest, CopiesLeaveTheseTrees) {
  struct Case {
    Files src, dst;
    std::string pattern;
    std::uint32_t count;
    Files after;
  } cases[] = {
      // A target without a dot is replaced through "README.$U$".
      {{{"README", "fresh"}}, {{"README", "old"}, {"README.$U$", "stale"}}, "README", 1, {{"README", "fresh"}}},
      // Matching folders are searched and copied, even empty ones; others and dot folders are not.
      {{{"a.dat", "a"}, {"b.txt", "b"}, {"sub.dat/c.dat", "c"}, {"sub.dat/d.txt", "d"}, {"other/e.dat", "e"},
        {".svn.dat/f.dat", "f"}}, {}, "*.dat", 2, {{"a.dat", "a"}, {"sub.dat/c.dat", "c"}}},
      // Targets are found ignoring case; the copy takes the source's name, an old temporary copy is overwritten, used.
      {{{"a.dat", "new a"}, {"b.dat", "new b"}, {"c.dat", "new c"}, {"sub/d.dat", "new d"}},
       {{"A.DAT", "old a"}, {"b.$U$", "stale"}, {"b.dat", "old b"}, {"SUB/d.dat", "old d"}}, "*.*", 4,
       {{"a.dat", "new a"}, {"b.dat", "new b"}, {"c.dat", "new c"}, {"SUB/d.dat", "new d"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    TempDir dir;
    const fs::path src = dir.path() / "src", dst = dir.path() / "dst";
    Put(src, c.src);
    Put(dst, c.dst);
    fs::create_directories(src / "empty.dat");
    const bool folds = fs::exists(dir.path() / "SRC");
    for (int run = 0; run < 2; ++run) {
      FakeHost host;
      ExpectOutcome(host, host.Run(RunCopyFiles, {N(src / c.pattern), N(dst)}), 0, {},
                    "Copying " + std::to_string(c.count) + " file(s) (" + N(src / c.pattern) + " -> " + N(dst) + ")");
      EXPECT_EQ(std::pair(host.file_counter, host.checkpoint.done_items), std::pair(c.count, c.count));
      EXPECT_EQ(AsSeen(Snapshot(dst), folds), AsSeen(c.after, folds));
      EXPECT_EQ(fs::is_directory(dst / "empty.dat"), c.pattern != "README");
    }
  }
}

TEST(CopyFilesTest, RefusedCopies) {
  TempDir dir;
  const std::string dst = N(dir.path() / "dst");
  const std::string trailing = dst + os::kNativeSeparator;
  for (const auto& [p1, p2, code, param] :
       {std::tuple<std::string, std::string, std::uint32_t, std::string>{"", "", 4, "PARAM1"}, {"", "x", 4, "PARAM1"},
        {"y", "", 4, "PARAM2"}, {"plain.dat", dst, 8, "plain.dat"},  // no separator
        {"*.dat", dst, 8, "*.dat"}, {N(dir.path() / "a.dat"), trailing, 11, trailing}}) {
    FakeHost host;
    ExpectOutcome(host, host.Run(RunCopyFiles, {p1, p2}), code, {param}, "Copying file(s) (" + p1 + " -> " + p2 + ")");
  }
  // A read-only target from the listing stops the copy before the next file.
  Put(dir.path() / "src", {{"a.dat", "new a"}, {"b.dat", "new b"}});
  WriteFile(dir.path() / "dst" / "a.dat", "kept");
  MakeReadOnly(dir.path() / "dst" / "a.dat");
  FakeHost host;
  EXPECT_EQ(host.Run(RunCopyFiles, {N(dir.path() / "src" / "*.dat"), dst}), ErrorCode(Err::kCannotDeleteFile));
  EXPECT_EQ(Snapshot(dst), (Files{{"a.dat", "kept"}}));
}

TEST(CopyFilesTest, CopyChangedWhileCheckedIsCorruptedAndTargetKept) {
  TempDir dir;
  const fs::path src = dir.path() / "src" / "big.dat", dst = dir.path() / "dst", temp = dst / "big.$U$";
  WriteFile(src, std::string(200000, 'x'));
  WriteFile(dst / "big.dat", "old");
  bool changed = false;
  FakeHost host;
  host.crc.hook = [&](std::uint32_t phase, std::uint32_t done) {
    if (phase != 2 || done != 0 || changed) return;
    // Change the copy's tail before the checksum reaches it.
    std::fstream f(temp, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(150000);
    changed = static_cast<bool>(f.write("y", 1).flush());
  };
  const ErrorCode rc = host.Run(RunCopyFiles, {N(src), N(dst)});
  if (!changed) GTEST_SKIP() << "the platform keeps writers out while a file is checksummed";
  EXPECT_EQ(rc, ErrorCode(Err::kCopyCorrupted));
  ASSERT_EQ(host.errors.size(), 1u);
  const Strings& p = host.errors[0].params;  // source, its CRC, copy, the copy's CRC
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ((Strings{p[0], p[2], std::to_string(p[1].size())}), (Strings{N(src), N(temp), "8"}));
  EXPECT_NE(p[1], p[3]);
  EXPECT_EQ(ReadFile(dst / "big.dat"), "old");
  EXPECT_TRUE(fs::exists(temp));  // left for inspection, as the log says
}

struct Target {
  const char* name;
  const char* temp;      // "$U$" name when the target exists before, else null
  const char* old_data;  // null: absent before
  std::string new_data;
};

const Target kTargets[] = {
    {"a.dat", "a.$U$", "old a", std::string(70000, 'n')},  // several checksum reads
    {"b.dat", nullptr, nullptr, "new b"},
    {"c.dat", "c.$U$", "old c", "new c (read-only source)"},
    {"sub/d.dat", nullptr, nullptr, "new d"},
};

// The errors each failing primitive may lead to while copying.
const DesignedErrors kDesignedErrors = {
    {Call::kOpen, {Err::kCannotOpenSource, Err::kCannotCopy}}, {Call::kRead, {Err::kCannotOpenSource}},
    {Call::kFlush, {Err::kCannotCopy}}, {Call::kClose, {Err::kCannotCopy}}, {Call::kCopy, {Err::kCannotCopy}},
    // A target refusing the replacing rename counts as one that cannot be deleted, any other failure as a failed copy.
    {Call::kMove, {Err::kCannotCopy, Err::kCannotDeleteFile}}, {Call::kRemove, {Err::kCannotDeleteFile}},
    {Call::kMakeDirectory, {Err::kCannotCreateDirectory}}, {Call::kSetAttributes, {Err::kCannotCopy}},
};

// Copies kTargets while calls of a kind fail: every target is left old or new (a refused replace keeps the verified
// copy under its "$U$" name), and the one error reported is the designed one.
ErrorCode CopyAndCheck(Call call) {
  TempDir dir;
  const fs::path src = dir.path() / "src", tgt = dir.path() / "tgt";
  for (const Target& t : kTargets) {
    WriteFile(src / t.name, t.new_data);
    if (t.old_data != nullptr) WriteFile(tgt / t.name, t.old_data);
  }
  MakeReadOnly(src / "c.dat");
  FakeHost host;
  const ErrorCode rc = host.Run(RunCopyFiles, {N(src / "*"), N(tgt)});
  auto left = Snapshot(tgt);
  for (const Target& t : kTargets) {
    SCOPED_TRACE(t.name);
    if (t.temp != nullptr && left.count(t.temp) != 0) {
      EXPECT_EQ(left[t.temp], t.new_data) << "a kept temporary copy is the verified one";
      left.erase(t.temp);
    }
    const auto found = left.find(t.name);
    if (found == left.end()) {
      // The old target stays until the verified copy replaces it in one rename.
      EXPECT_TRUE(t.old_data == nullptr && !rc.ok()) << "a target was lost";
      continue;
    }
    EXPECT_TRUE(found->second == t.new_data || (!rc.ok() && t.old_data != nullptr && found->second == t.old_data));
    left.erase(found);
  }
  ExpectNothingLeft(left);
  const std::string paths = " (" + N(src / "*") + " -> " + N(tgt) + ")";
  ExpectOutcome(host, rc, rc.raw(), host.errors.empty() ? Strings{} : host.errors[0].params,
                (rc.ok() ? "Copying 4 file(s)" : "Copying file(s)") + paths);
  if (!rc.ok()) ExpectDesignedError(kDesignedErrors, call, rc.code());
  return rc;
}

TEST(CopyFilesFaultTest, EveryFailingCallLeavesEachTargetOldOrVerifiedNew) {
  ForEveryFileFault([&](const FaultCase& c, os::fault::FaultScope&) { static_cast<void>(CopyAndCheck(c.call)); });
  // A refused replace names the target that could not be deleted, another failed rename both files; two targets exist.
  for (const auto& [failure, expected] : {std::pair{os::fault::Failure::kAccessDenied, Err::kCannotDeleteFile},
                                          std::pair{os::fault::Failure::kSharing, Err::kCannotDeleteFile},
                                          std::pair{os::fault::Failure::kIo, Err::kCannotCopy}}) {
    const auto attempt = [&](os::fault::FaultScope& faults) {
      const ErrorCode rc = CopyAndCheck(Call::kMove);  // before asking whether a fault fired
      EXPECT_EQ(rc, faults.Fired() ? ErrorCode(expected) : ErrorCode());
    };
    EXPECT_EQ(ForEachFailingCall(FaultCase{Call::kMove, failure, "move"}, attempt), 2u);
  }
}

}  // namespace
}  // namespace veupd::test
