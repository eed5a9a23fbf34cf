// Create pointer (opcode 6) with hand-built structure files and a scripted
// pointer component.
#include "commands/create_pointer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands/fake_host.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// A minimal structure file: a 40-byte header naming the data and index
// files, no fields, an empty auxiliary block.
std::string StructureFile(std::string_view data_name, std::string_view index_name) {
  std::string s(2 + 40 + 2, '\0');
  s[0] = 40;
  s.replace(8, data_name.size(), data_name);
  s.replace(21, index_name.size(), index_name);
  return s;
}

// A path inside the folder with native separators, as the command joins it.
std::string Native(const test::TempDir& dir, std::string_view relative) {
  return (dir.path() / fs::path(relative).make_preferred()).string();
}

class PointerHost : public test::FakeHost {
 public:
  int CallPointer(const std::string& structure, const std::string& data, const std::string& index) override {
    calls.push_back({structure, data, index});
    return result;
  }
  std::vector<Strings> calls;
  int result = 0;
};

class CreatePointerTest : public ::testing::Test {
 protected:
  void Structure(std::string_view data_name, std::string_view index_name) {
    test::WriteFile(structure, StructureFile(data_name, index_name));
  }
  test::TempDir dir;
  std::string structure = dir / "T.STR";
  std::string data_dir = dir / "DATA";
  PointerHost host;
};

TEST_F(CreatePointerTest, MissingSlotsFailWith4) {
  host.SetParams({});
  EXPECT_TRUE(RunCreatePointer(host).Is(Err::kParamMissing));
  EXPECT_EQ(test::Params(host.errors.at(0))[0], "PARAM1");
  EXPECT_EQ(host.steps.at(0).text, "Creating pointer");

  PointerHost h;
  h.SetParams({structure});
  EXPECT_TRUE(RunCreatePointer(h).Is(Err::kParamMissing));
  EXPECT_EQ(test::Params(h.errors.at(0))[0], "PARAM2");
  EXPECT_EQ(h.steps.at(0).text, "Creating pointer (" + structure + ")");
}

TEST_F(CreatePointerTest, VariablePartFillsBothNames) {
  Structure("TAB@.DAT", "PTR@.IDX");
  test::WriteFile(Native(dir, "DATA/TAB0042.DAT"), "x");
  host.SetParams({structure, data_dir, "0042"});
  EXPECT_TRUE(RunCreatePointer(host).ok());
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0], (Strings{structure, Native(dir, "DATA/TAB0042.DAT"), Native(dir, "DATA/PTR0042.IDX")}));
  EXPECT_TRUE(host.steps.at(0).success);
  EXPECT_EQ(host.steps[0].text, "Creating pointer (" + structure + ")");
  EXPECT_EQ(host.ctx.status_text, "T4864 " + structure);
}

TEST_F(CreatePointerTest, WholeRunOfPlaceholdersIsReplaced) {
  Structure("T@@@.DAT", "P@@@@@.IDX");
  test::WriteFile(Native(dir, "DATA/T7.DAT"), "x");
  host.SetParams({structure, data_dir, "7"});
  EXPECT_TRUE(RunCreatePointer(host).ok());
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0][2], Native(dir, "DATA/P7.IDX"));
}

TEST_F(CreatePointerTest, NameWithoutPlaceholderIgnoresPARAM3) {
  Structure("TABLE.DAT", "TABLE.IDX");
  test::WriteFile(Native(dir, "DATA/TABLE.DAT"), "x");
  host.SetParams({structure, data_dir, "0042"});
  EXPECT_TRUE(RunCreatePointer(host).ok());
  EXPECT_EQ(host.calls.at(0)[1], Native(dir, "DATA/TABLE.DAT"));
}

TEST_F(CreatePointerTest, PlaceholderWithoutPARAM3FailsWith4) {
  Structure("TAB@.DAT", "PTR@.IDX");
  host.SetParams({structure, data_dir});
  EXPECT_TRUE(RunCreatePointer(host).Is(Err::kParamMissing));
  EXPECT_EQ(test::Params(host.errors.at(0))[0], "PARAM3");
  EXPECT_EQ(host.steps.at(0).text, "Creating pointer (" + structure + ")");
}

TEST_F(CreatePointerTest, AbsentDataFileRemovesTheIndex) {
  Structure("TAB@.DAT", "PTR@.IDX");
  test::WriteFile(Native(dir, "DATA/PTR0042.IDX"), "stale");
  host.SetParams({structure, data_dir, "0042"});
  EXPECT_TRUE(RunCreatePointer(host).ok());
  EXPECT_FALSE(fs::exists(Native(dir, "DATA/PTR0042.IDX")));
  EXPECT_TRUE(host.calls.empty());
  EXPECT_TRUE(host.steps.at(0).success);
  EXPECT_EQ(host.steps[0].text, "Skipped creating pointer (" + structure + ")");
}

TEST_F(CreatePointerTest, ComponentFailureCarriesItsValue) {
  Structure("T.DAT", "T.IDX");
  test::WriteFile(Native(dir, "DATA/T.DAT"), "x");
  host.result = 3;
  host.SetParams({structure, data_dir});
  const ErrorCode rc = RunCreatePointer(host);
  EXPECT_EQ(rc.raw(), 3u * 65536u + 18u);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].code, 18);
  EXPECT_EQ(host.errors[0].subcode, 3);
  EXPECT_EQ(test::Params(host.errors[0]), (Strings{structure, Native(dir, "DATA/T.DAT"), Native(dir, "DATA/T.IDX"), ""}));
  EXPECT_FALSE(host.steps.at(0).success);
  EXPECT_EQ(host.steps[0].code, 18);
}

TEST_F(CreatePointerTest, StructureThatDoesNotLoadFailsWith17) {
  test::WriteFile(structure, "short");
  host.SetParams({structure, data_dir});
  EXPECT_TRUE(RunCreatePointer(host).Is(Err::kFdtNotFound));
  EXPECT_EQ(test::Params(host.errors.at(0))[0], structure);
}

TEST_F(CreatePointerTest, IndexNameWithoutPlaceholderFailsWith8) {
  Structure("TAB@.DAT", "PTR.IDX");
  host.SetParams({structure, data_dir, "1"});
  EXPECT_TRUE(RunCreatePointer(host).Is(Err::kInvalidPath));
  EXPECT_EQ(test::Params(host.errors.at(0))[0], Native(dir, "DATA/PTR.IDX"));
}

}  // namespace
}  // namespace veupd
