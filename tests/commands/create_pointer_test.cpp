// Create pointer (opcode 6) with hand-built structure files and a scripted
// pointer component.
#include "commands/create_pointer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands/fake_host.h"
#include "patch/patch_test_data.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using test::Native;

class CreatePointerTest : public ::testing::Test {
 protected:
  void Structure(std::string_view data_name, std::string_view index_name) {
    test::WriteFile(structure, test::StructureFile(data_name, index_name));
  }
  test::TempDir dir;
  std::string structure = dir / "T.STR";
  std::string data_dir = dir / "DATA";
  test::FakeHost host;
};

TEST_F(CreatePointerTest, MissingSlotsFailWith4) {
  Structure("TAB@.DAT", "PTR@.IDX");
  struct Case {
    Strings params;
    const char* slot;
    std::string step;
  } cases[] = {{{}, "PARAM1", "Creating pointer"},
               {{structure}, "PARAM2", "Creating pointer (" + structure + ")"},
               {{structure, data_dir}, "PARAM3", "Creating pointer (" + structure + ")"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    test::FakeHost h;
    for (std::size_t i = 0; i < c.params.size(); ++i) h.ctx.param[i] = c.params[i];
    EXPECT_TRUE(RunCreatePointer(h).Is(Err::kParamMissing));
    EXPECT_EQ(test::Params(h.errors.at(0))[0], c.slot);
    EXPECT_EQ(h.steps.at(0).text, c.step);
  }
}

TEST_F(CreatePointerTest, VariablePartFillsBothNames) {
  Structure("TAB@.DAT", "PTR@.IDX");
  test::WriteFile(Native(dir, "DATA/TAB0042.DAT"), "x");
  host.SetParams({structure, data_dir, "0042"});
  EXPECT_TRUE(RunCreatePointer(host).ok());
  ASSERT_EQ(host.pointer_calls.size(), 1u);
  EXPECT_EQ(host.pointer_calls[0].structure, structure);
  EXPECT_EQ(host.pointer_calls[0].data, Native(dir, "DATA/TAB0042.DAT"));
  EXPECT_EQ(host.pointer_calls[0].index, Native(dir, "DATA/PTR0042.IDX"));
  EXPECT_TRUE(host.steps.at(0).success);
  EXPECT_EQ(host.steps[0].text, "Creating pointer (" + structure + ")");
}

TEST_F(CreatePointerTest, AbsentDataFileRemovesTheIndex) {
  Structure("TAB@.DAT", "PTR@.IDX");
  test::WriteFile(Native(dir, "DATA/PTR0042.IDX"), "stale");
  host.SetParams({structure, data_dir, "0042"});
  EXPECT_TRUE(RunCreatePointer(host).ok());
  EXPECT_FALSE(fs::exists(Native(dir, "DATA/PTR0042.IDX")));
  EXPECT_TRUE(host.pointer_calls.empty());
  EXPECT_TRUE(host.steps.at(0).success);
  EXPECT_EQ(host.steps[0].text, "Skipped creating pointer (" + structure + ")");
}

TEST_F(CreatePointerTest, ComponentFailureCarriesItsValue) {
  Structure("T.DAT", "T.IDX");
  test::WriteFile(Native(dir, "DATA/T.DAT"), "x");
  host.pointer_result = 3;
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
