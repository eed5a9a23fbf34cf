// The built programs together: veupd-tool table build makes a table, the
// pointer component dodudav.dll rebuilds its index in either form, and FDT
// and the dictionary read it back; the default message tables are complete.
#include <gtest/gtest.h>

#include <filesystem>

#include "fault_support.h"
#include "integration/level_runner.h"
#include "platform/export.h"
#include "platform/platform.h"
#include "tables/message_dictionary.h"
#include "test_support.h"

namespace veupd {
namespace {

using PointerFn = int(VEUPD_STDCALL*)(const char*, const void*, const char*, const char*, const void*,
                                      const void*, const void*);

// veupd-tool's exit status, its output kept in files of dir.
int RunTool(const test::TempDir& dir, const std::vector<std::string>& args) {
  return test::RunQuoted(test::OutProgram("veupd-tool"), args, dir / "err.txt", dir / "out.txt");
}

// A message-shaped table of texts keyed 3, 6, 9, ..., given in reverse order.
TEST(TableTool, IndexedByTheComponentReadsBackInBothFormsAndBadSourcesFail) {
  test::TempDir dir;
  os::Module module;
  ASSERT_TRUE(module.Load(test::OutFile("dodudav.dll")).ok());
  const auto pointer = reinterpret_cast<PointerFn>(module.Symbol("KOR_FdtPointer"));
  ASSERT_NE(pointer, nullptr);
  const auto rebuild = [&](const std::string& structure, const std::string& data, const std::string& index) {
    return pointer(structure.c_str(), nullptr, data.c_str(), index.c_str(), nullptr, nullptr, nullptr);
  };
  const auto build = [&] { return RunTool(dir, {"table", "build", dir / "T.DESC", dir / "T.TSV", dir / "T.STR", "X"}); };
  constexpr int kCount = 3000;
  std::string records = "# number\ttext\n";
  for (int i = kCount; i >= 1; --i) records += std::to_string(3 * i) + "\ttext\\t" + std::to_string(i) + "\n";
  test::WriteFile(dir / "T.TSV", records);
  for (const std::string flags : {"backward tree", "backward"}) {
    test::WriteFile(dir / "T.DESC", "data T@.DAT\nindex T@.IDX\nflags " + flags +
                                        "\nfield NR single 4 fixed number -- number\nfield D0 single 40 -- text\n");
    ASSERT_EQ(build(), 0) << flags;
    const std::string tool_index = test::ReadFile(dir.path() / "TX.IDX");
    std::filesystem::remove(dir.path() / "TX.IDX");
    ASSERT_EQ(rebuild(dir / "T.STR", dir / "TX.DAT", dir / "TX.IDX"), 0) << flags;
    // One builder behind both: the same bytes.
    EXPECT_EQ(test::ReadFile(dir.path() / "TX.IDX"), tool_index) << flags;

    TDM_FdtTessel dictionary(nullptr, nullptr, "D0");
    ASSERT_TRUE(dictionary.Open((dir / "T.STR").c_str(), "X", "D0", nullptr, nullptr)) << flags;
    for (int i = 1; i <= kCount; ++i) {
      ASSERT_EQ(std::string(dictionary.GetText(3 * i)), "text\t" + std::to_string(i)) << flags;
      ASSERT_STREQ(dictionary.GetText(3 * i + 1), "") << flags;
    }
  }
  // The component's failures leave the index alone.
  test::WriteFile(dir / "BAD.DAT", test::ReadFile(dir.path() / "TX.DAT") + std::string("\x30\x00\x01", 3));
  const std::string before = test::ReadFile(dir.path() / "TX.IDX");
  EXPECT_EQ(rebuild(dir / "NONE.STR", dir / "TX.DAT", dir / "TX.IDX"), 1);
  EXPECT_EQ(rebuild(dir / "T.STR", dir / "NONE.DAT", dir / "TX.IDX"), 2);
  EXPECT_EQ(rebuild(dir / "T.STR", dir / "TX.DAT", dir / "NODIR/TX.IDX"), 3);
  EXPECT_EQ(rebuild(dir / "T.STR", dir / "BAD.DAT", dir / "TX.IDX"), 4);
  EXPECT_EQ(pointer(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(test::ReadFile(dir.path() / "TX.IDX"), before);

  // The tool looks keys up and refuses bad sources.
  const std::string structure = dir / "T.STR";
  EXPECT_EQ(RunTool(dir, {"table", "get", structure, "6", "X"}), 0);
  EXPECT_EQ(RunTool(dir, {"table", "get", structure, "7", "X"}), 1);
  EXPECT_EQ(RunTool(dir, {"table", "dump", structure, "X"}), 0);
  EXPECT_EQ(RunTool(dir, {"table", "dump", structure}), 1);  // '@' needs a language
  EXPECT_EQ(RunTool(dir, {"table", "get", structure}), 2);

  const std::string fields = "field NR single 4 fixed number\nfield D0 single 5\n";
  const struct {
    const char* name;
    std::string description, records;
  } rows[] = {
      {"text above its width", "data T@.DAT\n" + fields, "1\ttoo long\n"},
      {"number that does not fit", "data T@.DAT\nfield NR single 1 fixed number\n", "300\n"},
      {"more columns than fields", "data T@.DAT\n" + fields, "1\ta\tb\n"},
      {"bad escape", "data T@.DAT\n" + fields, "1\t\\q\n"},
      {"unknown statement", "data T@.DAT\nsize 4\n" + fields, "1\ta\n"},
      {"field name of three characters", "data T@.DAT\nfield NRX single 4\n", "1\n"},
      {"no data file name", fields, "1\ta\n"},
      {"data file name too long", "data ABCDEFGHI@.DAT\n" + fields, "1\ta\n"},
  };
  for (const auto& row : rows) {
    test::WriteFile(dir / "T.DESC", row.description);
    test::WriteFile(dir / "T.TSV", row.records);
    EXPECT_EQ(build(), 1) << row.name;
  }
}

// veupd-tool fdb: a database made from a folder and changed by the
// updater's own rules passes the check and extracts back to its files; a
// cut one fails the check.
TEST(FdbTool, CreateUpdateCheckAndExtract) {
  test::TempDir dir;
  for (const char* name : {"A0001.DAT", "A0002.DAT", "A0003.DAT"}) test::WriteFile(dir.path() / "in" / name, name);
  const std::string db = dir / "DATA.FDB";
  const std::vector<std::string> commands[] = {
      {"fdb", "create", db, dir / "in"}, {"fdb", "update", db, "delete", "a0002.dat"}, {"fdb", "list", db},
      {"fdb", "check", db}, {"fdb", "extract", db, dir / "out"}};
  for (const auto& command : commands) EXPECT_EQ(RunTool(dir, command), 0) << command[1];
  EXPECT_EQ(test::Snapshot(dir.path() / "out"),
            (std::map<std::string, std::string>{{"A0001.DAT", "A0001.DAT"}, {"A0003.DAT", "A0003.DAT"}}));
  const std::string whole = test::ReadFile(dir / "DATA.FDB");
  test::WriteFile(dir / "DATA.FDB", whole.substr(0, whole.size() - 1));
  EXPECT_NE(RunTool(dir, {"fdb", "check", db}), 0);
  EXPECT_NE(RunTool(dir, {"fdb", "extract", db, dir / "out2"}), 0);
}

TEST(DefaultMessageTables, HoldEveryNumberInBothLanguages) {
  TDM_FdtTessel english(test::OutFile("MSG.STR").c_str(), "E", "D0"), german(test::OutFile("MSG.STR").c_str(), "D", "D0");
  ASSERT_TRUE(english.IsOpen() && german.IsOpen());
  for (const std::uint32_t number : {70, 118, 3671, 3977, 4783, 4860, 4861, 4862, 4863, 4864, 4865, 4866, 11670, 11672}) {
    for (TDM_FdtTessel* dictionary : {&english, &german}) {
      const std::string text = dictionary->GetText(number);
      EXPECT_FALSE(text.empty()) << number;
      // The texts formatted with an argument carry exactly one "%s".
      if (number == 4783 || number == 11670 || number == 11672) {
        EXPECT_NE(text.find("%s"), std::string::npos) << number;
        EXPECT_EQ(text.find('%', text.find("%s") + 1), std::string::npos) << number;
      }
    }
  }
  EXPECT_NE(std::string(english.GetText(3671)), std::string(german.GetText(3671)));
  EXPECT_STREQ(english.GetText(1), "");
}

}  // namespace
}  // namespace veupd
