// The four patch commands through a fake host: slot checks, phases and
// checkpoints, verification, replacement in place and the pointer step.
#include "patch/patch_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands/fake_host.h"
#include "patch/patch_engine.h"
#include "patch/patch_test_data.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::Rec;
using test::StructureFile;
using test::WriteFile;

using Phases = std::vector<std::uint32_t>;

// The host with the buffers the updater gives the patch commands.
struct PatchHost : test::FakeHost {
  PatchHost() : FakeHost(kPatchPayloadGrowStep, kPatchCopyBufferSize) {}
};
using Strings = std::vector<std::string>;

// "123456789" has the CRC-32 2DFD2D88 in the updater's variant.
constexpr const char* kCheckText = "123456789";
constexpr const char* kCheckCrc = "2DFD2D88";
// An old file and an update that together give kCheckText.
constexpr const char* kOldText = "12345X789";
const std::string kFixToCheck = Rec(5, 'U', "6");
const std::string kFdtToCheck = Rec(5, 'u', "6");

class PatchCommandTest : public ::testing::Test {
 protected:
  PatchCommandTest() {
    fs::create_directories(dir.path() / "old");
    fs::create_directories(dir.path() / "new");
  }

  test::TempDir dir;
  std::string old_path = test::Native(dir, "old/T.DAT");
  std::string new_dir = dir / "new";
  std::string new_path = test::Native(dir, "new/T.DAT");
  std::string upd_path = dir / "upd.bin";
  PatchHost host;
};

// ---------------------------------------------------------------- slots

TEST_F(PatchCommandTest, FirstEmptySlotFailsWith4) {
  struct Case {
    const char* name;
    ErrorCode (*run)(CommandHost&);
    Strings params;
    const char* slot;
    const char* step;
  };
  const Case cases[] = {
      {"fix, no PARAM1", RunFixUpdate, {"", "1", "u", "d"}, "PARAM1", "Fix-Update"},
      {"fix, no PARAM2", RunFixUpdate, {"a\\b", "", "u", "d"}, "PARAM2", "Fix-Update (a\\b)"},
      {"fix, no PARAM4", RunFixUpdate, {"a\\b", "1", "u", ""}, "PARAM4", "Fix-Update (a\\b)"},
      {"fdt, no PARAM3", RunFdtUpdate, {"a\\b", "1", "", "d", "s"}, "PARAM3", "FDT-Update (a\\b)"},
      {"fdt, no PARAM1", RunFdtUpdate, {"", "", "", ""}, "PARAM1", "FDT-Update"},
      {"fdt in place, no PARAM3", RunFdtUpdateInPlace, {"a\\b", "1", ""}, "PARAM3", "FDT-Update-InPlace (a\\b)"},
      {"fix in place, no PARAM2", RunFixUpdateInPlace, {"a\\b", "", "u"}, "PARAM2", "Fix-Update (a\\b)"},
  };
  for (const Case& c : cases) {
    PatchHost h;
    h.ctx.param = {};
    for (std::size_t i = 0; i < c.params.size(); ++i) h.ctx.param[i] = c.params[i];
    EXPECT_TRUE(c.run(h).Is(Err::kParamMissing)) << c.name;
    ASSERT_EQ(h.errors.size(), 1u) << c.name;
    EXPECT_EQ(test::Given(h.errors[0]), Strings{c.slot}) << c.name;
    ASSERT_EQ(h.steps.size(), 1u) << c.name;
    EXPECT_EQ(h.steps[0].text, c.step) << c.name;
    EXPECT_FALSE(h.steps[0].success) << c.name;
    EXPECT_EQ(h.checkpoint.done_items, 0u) << c.name;
    EXPECT_TRUE(h.phases_written.empty()) << c.name;
  }
}

// ---------------------------------------------------------------- Fix-Update

TEST_F(PatchCommandTest, FixUpdateWritesVerifiesAndCountsTheItem) {
  WriteFile(old_path, kOldText);
  WriteFile(upd_path, kFixToCheck);
  host.SetParams({old_path, "2dfd 2D88", upd_path, new_dir});
  EXPECT_TRUE(RunFixUpdate(host).ok());
  EXPECT_EQ(ReadFile(new_path), kCheckText);
  EXPECT_EQ(ReadFile(old_path), kOldText);
  EXPECT_EQ(host.phases_written, (Phases{2, 0}));
  EXPECT_EQ(host.checkpoint.done_items, 1u);
  ASSERT_EQ(host.steps.size(), 1u);
  EXPECT_TRUE(host.steps[0].success);
  EXPECT_EQ(host.steps[0].text, "Fix-Update (" + old_path + ")");
}

TEST_F(PatchCommandTest, ZeroCrcWithXXXXXXSkipsVerification) {
  WriteFile(new_path, kCheckText);
  host.checkpoint.phase = 2;
  host.SetParams({"NOSEPARATOR", "0", "XXXXXX", new_dir});
  EXPECT_TRUE(RunFixUpdate(host).ok());
  // Lower case does not count: the file is checked, and fails.
  PatchHost h;
  h.checkpoint.phase = 2;
  h.SetParams({old_path, "0", "xxxxxx", new_dir});
  EXPECT_TRUE(RunFixUpdate(h).Is(Err::kFileCheckFailed));
}

TEST_F(PatchCommandTest, VerificationOfPathWithoutSeparatorFailsWith8) {
  host.checkpoint.phase = 2;
  host.SetParams({"NOSEPARATOR", "1", upd_path, new_dir});
  EXPECT_TRUE(RunFixUpdate(host).Is(Err::kInvalidPath));
  EXPECT_EQ(test::Given(host.errors[0]), Strings{"NOSEPARATOR"});
}

// ---------------------------------------------------------------- FDT-Update and its pointer step

class FdtCommandTest : public PatchCommandTest {
 protected:
  void Prepare(std::string_view data_name, std::string_view index_name) {
    WriteFile(structure, StructureFile(data_name, index_name));
  }
  std::string structure = dir / "T.STR";
};

TEST_F(FdtCommandTest, RunsApplyVerifyAndPointer) {
  Prepare("TAB@.DAT", "PTR@.IDX");
  const std::string old = test::Native(dir, "old/TAB0042.DAT");
  WriteFile(old, kOldText);
  WriteFile(upd_path, Rec(5, 'u', "6"));
  host.SetParams({old, kCheckCrc, upd_path, new_dir, structure});
  ASSERT_TRUE(RunFdtUpdate(host).ok());
  EXPECT_EQ(ReadFile(test::Native(dir, "new/TAB0042.DAT")), kCheckText);
  EXPECT_EQ(host.phases_written, (Phases{2, 3, 0}));
  ASSERT_EQ(host.pointer_calls.size(), 1u);
  EXPECT_EQ(host.pointer_calls[0].structure, structure);
  EXPECT_EQ(host.pointer_calls[0].data, test::Native(dir, "new/TAB0042.DAT"));
  EXPECT_EQ(host.pointer_calls[0].index, test::Native(dir, "new/PTR0042.IDX"));
  EXPECT_EQ(host.steps[0].text, "FDT-Update (" + old + ")");
  EXPECT_EQ(host.checkpoint.done_items, 1u);
}

TEST_F(FdtCommandTest, PointerFailureCarriesItsValueAsSubcode) {
  Prepare("T.DAT", "P.IDX");
  WriteFile(old_path, kOldText);
  WriteFile(upd_path, kFdtToCheck);
  host.pointer_result = 3;
  host.SetParams({old_path, kCheckCrc, upd_path, new_dir, structure});
  const ErrorCode rc = RunFdtUpdate(host);
  EXPECT_EQ(rc.raw(), 3u * 65536u + 18u);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].code, 18);
  EXPECT_EQ(host.errors[0].subcode, 3);
  EXPECT_EQ(test::Given(host.errors[0]), (Strings{structure, new_path, test::Native(dir, "new/P.IDX")}));
  EXPECT_EQ(host.steps[0].raw, 3u * 65536u + 18u);
  EXPECT_EQ(host.phases_written, (Phases{2, 3, 3}));
  EXPECT_EQ(ReadFile(new_path), kCheckText);  // the verified file stays
}

TEST_F(FdtCommandTest, IndexNameWithoutPlaceholderFailsWith8) {
  Prepare("T@.DAT", "PTR.IDX");
  WriteFile(old_path, kOldText);
  WriteFile(upd_path, kFdtToCheck);
  host.SetParams({old_path, kCheckCrc, upd_path, new_dir, structure});
  EXPECT_TRUE(RunFdtUpdate(host).Is(Err::kInvalidPath));
  EXPECT_EQ(test::Given(host.errors[0]), Strings{test::Native(dir, "new/PTR.IDX")});
}

TEST_F(FdtCommandTest, RemovedTableTakesItsIndexAlong) {
  Prepare("T@.DAT", "P@.IDX");
  const std::string old = test::Native(dir, "old/T12.DAT");
  WriteFile(old, std::string("\x01\x00" "Z", 3));
  WriteFile(upd_path, Rec(0, 'D', 0));
  WriteFile(test::Native(dir, "new/P12.IDX"), "stale");
  host.SetParams({old, "0", upd_path, new_dir, structure});
  EXPECT_TRUE(RunFdtUpdate(host).ok());
  EXPECT_FALSE(fs::exists(test::Native(dir, "new/T12.DAT")));
  EXPECT_FALSE(fs::exists(test::Native(dir, "new/P12.IDX")));
  EXPECT_TRUE(host.pointer_calls.empty());
}

// ---------------------------------------------------------------- in place

TEST_F(PatchCommandTest, FixInPlaceEmptyingTheFileRemovesIt) {
  WriteFile(old_path, "abc");
  WriteFile(upd_path, Rec(0, 'D', 3));
  host.SetParams({old_path, "0", upd_path});
  EXPECT_TRUE(RunFixUpdateInPlace(host).ok());
  EXPECT_FALSE(fs::exists(old_path));
  EXPECT_FALSE(fs::exists(test::Native(dir, "old/T.DU$")));
}

TEST_F(PatchCommandTest, InPlaceCrcMismatchLeavesTheOldFileUntouched) {
  WriteFile(old_path, kOldText);
  WriteFile(upd_path, kFixToCheck);
  host.SetParams({old_path, "2DFD2D89", upd_path});
  EXPECT_TRUE(RunFixUpdateInPlace(host).Is(Err::kFileCheckFailed));
  EXPECT_EQ(ReadFile(old_path), kOldText);
  EXPECT_EQ(ReadFile(test::Native(dir, "old/T.DU$")), kCheckText);
  EXPECT_EQ(test::Given(host.errors[0]), (Strings{"ctl.txt", "2DFD2D89", test::Native(dir, "old/T.DU$"), kCheckCrc}));
}

TEST_F(PatchCommandTest, InPlaceOnItsOwnTemporaryNameIsRefused) {
  const std::string self = test::Native(dir, "old/T.du$");
  WriteFile(self, kOldText);
  WriteFile(upd_path, kFixToCheck);
  host.SetParams({self, kCheckCrc, upd_path});
  EXPECT_TRUE(RunFixUpdateInPlace(host).Is(Err::kCannotCreateNewFile));
  EXPECT_EQ(ReadFile(self), kOldText);
}

TEST_F(PatchCommandTest, InPlaceReadOnlyOldFileFailsWith5AndKeepsBoth) {
  WriteFile(old_path, kOldText);
  WriteFile(upd_path, kFixToCheck);
  test::MakeReadOnly(old_path);
  host.SetParams({old_path, kCheckCrc, upd_path});
  EXPECT_TRUE(RunFixUpdateInPlace(host).Is(Err::kCannotDeleteFile));
  EXPECT_EQ(test::Given(host.errors[0]), Strings{old_path});
  EXPECT_EQ(ReadFile(old_path), kOldText);
  EXPECT_EQ(ReadFile(test::Native(dir, "old/T.DU$")), kCheckText);
  EXPECT_EQ(host.phases_written, (Phases{2, 0}));
}

}  // namespace
}  // namespace veupd
