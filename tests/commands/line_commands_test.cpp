// The commands of one line and one file or folder: conditional (9),
// rename (12), edit ini file (3), create pointer (6), FDB update, clean
// directory (2) and empty directory (7).
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

#include "commands/clean_directory.h"
#include "commands/conditional.h"
#include "commands/create_pointer.h"
#include "commands/edit_ini_file.h"
#include "commands/fake_host.h"
#include "commands/rename_file.h"
#include "commands/update_fdb.h"
#include "patch/patch_test_data.h"
#include "platform/platform.h"
#include "tables/update_fdb_test_db.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using test::ExpectOutcome;
using test::FakeHost;
using test::Native;
using test::ReadFile;
using test::Strings;
using test::TempDir;
using test::WriteFile;

TEST(ConditionalTest, SelectorRunsTheNestedCommandWithShortenedParam1OrNothing) {
  struct Case {
    std::string param1;
    int dir;                // the one UpdDir set
    std::int32_t opcode;    // -1: nothing runs
    std::string nested_param1, step;
  } cases[] = {{"31C:\\src\\*.*", 3, 1, "C:\\src\\*.*", "Conditional executing command 1"},
               {"J5prog.exe", 19, 5, "prog.exe", "Conditional executing command 5"},
               {"A7dir", 10, 7, "dir", "Conditional executing command 7"},
               {"0xdata", 0, 0, "data", "Conditional executing command 0"},
               {"28", 2, 8, "", "Conditional executing command 8"},
               {"31x", 1, -1, "", "Conditional not executed, 3 was empty"},
               {"a1x", 10, -1, "", "Conditional not executed, a was empty"},  // 'a' is not 'A'
               {"K1x", 10, -1, "", "Conditional not executed, K was empty"},
               {"*1x", 10, -1, "", "Conditional not executed, * was empty"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.param1);
    FakeHost host;
    host.ctx.upd_dir.fill("");
    host.ctx.upd_dir[static_cast<std::size_t>(c.dir)] = "set";
    host.dispatch_result = ErrorCode(Err::kCannotCopy);
    const ErrorCode rc = host.Run(RunConditional, {c.param1, "P2", "P3", "P4", "P5"});
    ExpectOutcome(host, 0, {}, c.step);
    if (c.opcode < 0) {
      EXPECT_TRUE(rc.ok());
      EXPECT_TRUE(host.dispatched.empty());
      continue;
    }
    EXPECT_EQ(rc, ErrorCode(Err::kCannotCopy));
    ASSERT_EQ(host.dispatched.size(), 1u);
    EXPECT_EQ(host.dispatched[0].opcode, c.opcode);
    EXPECT_EQ(host.dispatched[0].params[0], c.nested_param1);
    EXPECT_EQ(host.dispatched[0].params[4], "P5");
    EXPECT_EQ(host.ctx.opcode, c.opcode);  // kept after the call
  }
  FakeHost host;
  EXPECT_EQ(host.Run(RunConditional, {}), ErrorCode(Err::kParamMissing));
  ExpectOutcome(host, 4, {"PARAM1"}, "Conditional");
}

TEST(RenameTest, RefusalsAndTheirLogLines) {
  TempDir dir;
  WriteFile(dir / "a.dat", "A");
  WriteFile(dir / "taken.dat", "T");
  const std::string a = dir / "a.dat";
  const std::string sub = std::string("sub") + os::kNativeSeparator + "b.dat";
  struct Case {
    std::string p1, p2;
    std::uint16_t code;
    Strings params;
    std::string step;  // "" = no step line
  } cases[] = {
      {"", "b.dat", 4, {"PARAM1"}, "Rename"},
      {a, "", 4, {"PARAM2"}, "Rename (" + a + ")"},
      {a, sub, 8, {sub}, ""},
      {"a.dat", "b.dat", 8, {"a.dat"}, ""},
      {a, "taken.dat", 29, {a, dir / "taken.dat"}, ""},
      {dir / "none.dat", "n.dat", 29, {dir / "none.dat", dir / "n.dat"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p1 + " " + c.p2);
    FakeHost host;
    EXPECT_EQ(host.Run(RunRename, {c.p1, c.p2}).code(), c.code);
    ExpectOutcome(host, c.code, c.params, c.step);
  }
  EXPECT_EQ(ReadFile(dir / "a.dat"), "A");
  EXPECT_EQ(ReadFile(dir / "taken.dat"), "T");
}

TEST(EditIniFileTest, ActionsLeaveTheseBytes) {
  struct Case {
    std::optional<std::string> before;  // nullopt: no file
    std::string action, key, value;
    std::optional<std::string> after;
  } cases[] = {
      {std::nullopt, "A", "k", "v", "\r\n[S]\r\nk=v\r\n"},            // add creates a missing file
      {"[S]\r\na=1\r\n", "U", "k", "v", "[S]\r\na=1\r\nk=v\r\n\r\n"},  // update adds a missing key
      {"[S]\r\nk=1\r\n", "U", "k", "9", "[S]\r\nk=9\r\n"},
      {std::nullopt, "U", "k", "v", std::nullopt},  // update on a missing file writes nothing
      {std::nullopt, "D", "a", "", ""},
      {"[S]\r\nk= 2 \r\n", "T", "k", "", "[S]\r\nk=1\r\n"},  // toggles
      {"[S]\r\nk=0\r\n", "T", "k", "", "[S]\r\nk=1\r\n"},
      {"[S]\r\nk=on\r\n", "T", "k", "", "[S]\r\nk=1\r\n"},
      {"[S]\r\na=x\r\n", "T", "k", "", "[S]\r\na=x\r\nk=1\r\n\r\n"},
      {"[S]\r\nk=1\r\n", "T", "k", "7", "[S]\r\nk=2\r\n"},  // the value slot is ignored
      {std::nullopt, "T", "k", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action + " " + c.before.value_or("(none)"));
    TempDir dir;
    const std::string ini = dir / "app.ini";
    if (c.before) WriteFile(ini, *c.before);
    FakeHost host;
    EXPECT_TRUE(host.Run(RunEditIniFile, {ini, c.action, "S", c.key, c.value}).ok());
    ExpectOutcome(host, 0, {}, "Editing ini file (" + ini + " -> " + c.action + ")");
    EXPECT_EQ(fs::exists(ini), c.after.has_value());
    EXPECT_EQ(ReadFile(ini), c.after.value_or(""));
  }
}

// Nothing is touched.
TEST(EditIniFileTest, RefusedLines) {
  TempDir dir;
  const std::string f = dir / "f.ini";
  struct Case {
    std::string file, action, section, key, value;
    std::uint16_t code;
    Strings params;
  } cases[] = {
      {"", "A", "S", "k", "v", 4, {"PARAM1"}},      {f, "", "S", "k", "v", 4, {"PARAM2"}},
      {f, "A", "", "k", "v", 4, {"PARAM3"}},        {f, "A", "S", "", "v", 4, {"PARAM4"}},
      {f, "A", "S", "k", "", 4, {"PARAM5", "A"}},   {f, "U", "S", "k", "", 4, {"PARAM5", "U"}},
      {f, "X", "S", "k", "", 4, {"PARAM5", "X"}},   {f, "a", "S", "k", "v", 6, {"a"}},
      {f, "AA", "S", "k", "v", 6, {"AA"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action + " " + c.key + " " + c.value);
    FakeHost host;
    EXPECT_EQ(host.Run(RunEditIniFile, {c.file, c.action, c.section, c.key, c.value}).code(), c.code);
    ExpectOutcome(host, c.code, c.params, c.file.empty() ? "Edit inifile" : "Edit inifile (" + f + ")");
    EXPECT_FALSE(fs::exists(f));
  }
}

TEST(CreatePointerTest, OutcomesAndTheirEntries) {
  TempDir dir;
  const std::string s = dir / "T.STR", data_dir = dir / "DATA";
  const std::string data = Native(dir, "DATA/TAB0042.DAT"), index = Native(dir, "DATA/PTR0042.IDX");
  const std::string step = "Creating pointer (" + s + ")";
  struct Case {
    std::string structure;  // the structure file's bytes
    bool data_there;
    Strings params;
    int pointer_result;
    std::uint32_t code;
    Strings error, call;  // the error's parameters, the pointer call
    std::string step;
  } cases[] = {
      {test::StructureFile("TAB@.DAT", "PTR@.IDX"), true, {s, data_dir, "0042"}, 0, 0, {}, {s, data, index}, step},
      {test::StructureFile("TAB@.DAT", "PTR@.IDX"), false, {s, data_dir, "0042"}, 0, 0, {}, {},
       "Skipped creating pointer (" + s + ")"},
      {test::StructureFile("TAB0042.DAT", "PTR0042.IDX"), true, {s, data_dir}, 3, 3u * 65536u + 18u,
       {s, data, index}, {s, data, index}, step},
      {"short", false, {s, data_dir}, 0, 17, {s}, {}, step},
      {test::StructureFile("TAB@.DAT", "PTR.IDX"), false, {s, data_dir, "1"}, 0, 8, {Native(dir, "DATA/PTR.IDX")},
       {}, step},
      {test::StructureFile("TAB@.DAT", "PTR@.IDX"), false, {}, 0, 4, {"PARAM1"}, {}, "Creating pointer"},
      {test::StructureFile("TAB@.DAT", "PTR@.IDX"), false, {s}, 0, 4, {"PARAM2"}, {}, step},
      {test::StructureFile("TAB@.DAT", "PTR@.IDX"), false, {s, data_dir}, 0, 4, {"PARAM3"}, {}, step},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    WriteFile(s, c.structure);
    fs::remove(data);
    WriteFile(index, "stale");
    if (c.data_there) WriteFile(data, "x");
    FakeHost host;
    host.pointer_result = c.pointer_result;
    for (std::size_t i = 0; i < c.params.size(); ++i) host.ctx.param[i] = c.params[i];
    EXPECT_EQ(RunCreatePointer(host).raw(), c.code);
    ExpectOutcome(host, c.code, c.error, c.step);
    EXPECT_EQ(host.pointer_calls, c.call.empty() ? std::vector<Strings>{} : std::vector<Strings>{c.call});
    EXPECT_EQ(fs::exists(index), c.step.rfind("Skipped", 0) != 0);  // goes with its data file
  }
}

TEST(UpdateFdbCommandTest, FormsAndFailures) {
  TempDir dir;
  constexpr std::size_t kKey = 5;
  test::fdb::WriteDb(dir, kKey, {{"B.DAT", "b"}, {"D.DAT", "d"}});
  FakeHost host;
  EXPECT_EQ(host.Run(RunUpdateFdb, {"", "DELETE", "B.DAT"}).code(), 4);
  ExpectOutcome(host, 4, {"PARAM1"}, "FDB Update");

  // PARAM1 and PARAM2 without PARAM3 name a control list.
  const std::string none = dir / "none.txt", list = dir / "ctl.txt";
  host = FakeHost();
  EXPECT_EQ(host.Run(RunUpdateFdb, {none}).code(), 30);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].params, Strings{none});
  ASSERT_EQ(host.steps.size(), 2u);
  EXPECT_EQ(host.steps[0].text, "Updating FDB using file (" + none + ")");
  EXPECT_EQ(host.steps[1].text, "Could not open file " + none + "!\n");

  WriteFile(list, (dir / "DATA.FDB") + "\tDELETE\tD.DAT\n");
  host = FakeHost();
  EXPECT_TRUE(host.Run(RunUpdateFdb, {list, "DELETE"}).ok());
  ExpectOutcome(host, 0, {}, "Updating FDB using file (" + list + ")");
  const auto parsed = test::fdb::ReadDb(dir, kKey);
  EXPECT_EQ(parsed.problem, "");
  EXPECT_EQ(parsed.records, (std::vector<test::fdb::Rec>{{"B.DAT", "b"}}));
}

struct Tree {
  Tree() {
    for (const char* name : {"a.tmp", "b.dat", "x.tmp/c.tmp", "x.tmp/keep.dat", "y.tmp/d.tmp", "old/e.tmp",
                             ".svn/f.tmp"}) {
      test::WriteFile(root / name, "");
    }
  }
  ErrorCode Run(bool empty, const std::string& p1, const std::string& p2) {
    return host.Run(empty ? RunEmptyDirectory : RunCleanDirectory, {p1, p2});
  }
  test::TempDir dir;
  fs::path root = dir.path() / "work";
  FakeHost host;
};

std::string DirAndMask(const std::string& d, const std::string& mask) { return d + os::kNativeSeparator + mask; }

// Clean keeps folders; empty removes the emptied ones and counts them.
// Folders that do not match and dot folders are never entered.
TEST(CleanDirectoryTest, RemovesMatchingFilesAndCountsThem) {
  struct Case {
    bool empty;
    std::string folder, mask;
    test::Strings gone, there;
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
    Tree t;
    const std::string folder = t.dir / c.folder;
    EXPECT_TRUE(t.Run(c.empty, folder, c.mask).ok());
    for (const auto& name : c.gone) EXPECT_FALSE(fs::exists(t.root / name)) << name;
    for (const auto& name : c.there) EXPECT_TRUE(fs::exists(t.root / name)) << name;
    EXPECT_EQ(t.host.file_counter, c.count);
    if (!c.empty) {
      EXPECT_EQ(t.host.checkpoint.done_items, c.count);
    }
    ExpectOutcome(t.host, 0, {},
                  "Cleaning directory (" + std::to_string(c.count) + " files) (" + DirAndMask(folder, c.mask) + ")");
  }
}

TEST(CleanDirectoryTest, MissingParametersNameTheirSlot) {
  for (const bool empty : {false, true}) {
    for (const auto& [p1, p2, slot] : {std::tuple{"", "*.*", "PARAM1"}, std::tuple{"d", "", "PARAM2"}}) {
      Tree t;
      EXPECT_EQ(t.Run(empty, p1, p2), ErrorCode(Err::kParamMissing));
      ExpectOutcome(t.host, 4, {slot}, "Empty directory (" + DirAndMask(p1, p2) + ")");
    }
  }
}

TEST(CleanDirectoryTest, ReadOnlyFileStopsWithError21) {
  Tree t;
  test::MakeReadOnly(t.root / "x.tmp" / "c.tmp");
  EXPECT_EQ(t.Run(true, t.root.string(), "*.tmp"), ErrorCode(Err::kCannotEmptyDirectory));
  ASSERT_EQ(t.host.errors.size(), 1u);
  EXPECT_EQ(t.host.errors[0].code, 21);
  EXPECT_EQ(t.host.errors[0].params, test::Strings{(t.root / "x.tmp" / "c.tmp").string()});
  ASSERT_EQ(t.host.steps.size(), 1u);
  EXPECT_FALSE(t.host.steps[0].success);
  EXPECT_EQ(t.host.steps[0].code, 0);
  EXPECT_EQ(t.host.steps[0].text, "Empty directory (" + DirAndMask(t.root.string(), "*.tmp") + ")");
  // Name order: a.tmp went before, y.tmp after the stop.
  EXPECT_FALSE(fs::exists(t.root / "a.tmp"));
  EXPECT_TRUE(fs::exists(t.root / "y.tmp" / "d.tmp"));
  EXPECT_EQ(t.host.file_counter, 1u);
}

}  // namespace
}  // namespace veupd
