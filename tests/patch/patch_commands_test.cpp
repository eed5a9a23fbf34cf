// The four patch commands through a fake host: slot checks, phases and
// checkpoints, verification, replacement in place and the pointer step,
// also under failing file primitives.
#include "patch/patch_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "commands/fake_host.h"
#include "fault_support.h"
#include "formats/crc32.h"
#include "formats/text_format.h"
#include "patch/patch_engine.h"
#include "patch/patch_test_data.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using os::fault::Call;
using test::Rec;
using test::StructureFile;
using test::Strings;

// The host with the buffers the updater gives the patch commands.
struct PatchHost : test::FakeHost {
  PatchHost() : FakeHost(kPatchPayloadGrowStep, kPatchCopyBufferSize) {}
};

TEST(PatchCommandTest, FirstEmptySlotFailsWith4) {
  struct Case {
    CommandFn run;
    Strings params;
    const char* slot;
    const char* step;
  } cases[] = {
      {RunFixUpdate, {"", "1", "u", "d"}, "PARAM1", "Fix-Update"},
      {RunFixUpdate, {"a\\b", "", "u", "d"}, "PARAM2", "Fix-Update (a\\b)"},
      {RunFixUpdate, {"a\\b", "1", "u", ""}, "PARAM4", "Fix-Update (a\\b)"},
      {RunFdtUpdate, {"a\\b", "1", "", "d", "s"}, "PARAM3", "FDT-Update (a\\b)"},
      {RunFdtUpdate, {"", "", "", ""}, "PARAM1", "FDT-Update"},
      {RunFdtUpdateInPlace, {"a\\b", "1", ""}, "PARAM3", "FDT-Update-InPlace (a\\b)"},
      {RunFixUpdateInPlace, {"a\\b", "", "u"}, "PARAM2", "Fix-Update (a\\b)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    PatchHost h;
    for (std::size_t i = 0; i < c.params.size(); ++i) h.ctx.param[i] = c.params[i];
    EXPECT_TRUE(c.run(h).Is(Err::kParamMissing));
    test::ExpectOutcome(h, 4, {c.slot}, c.step);
    EXPECT_EQ(h.checkpoint.done_items, 0u);
    EXPECT_TRUE(h.phases_written.empty());
  }
}

// "123456789" has the CRC-32 2DFD2D88 in the updater's variant; the old
// file and the update give it.
TEST(PatchCommandTest, OutcomesFilesAndPhases) {
  using Files = std::vector<std::pair<std::string, std::optional<std::string>>>;  // nullopt: absent
  test::TempDir dir;
  fs::create_directories(dir.path() / "new");
  const auto at = [&](std::string_view relative) { return test::Native(dir, relative); };
  const std::string old_file = at("old/T.DAT"), new_dir = dir / "new", new_file = at("new/T.DAT"),
                    temp = at("old/T.DU$"), t12 = at("old/T12.DAT"), upd = dir / "upd.bin", str = dir / "T.STR";
  const std::string kCheck = "123456789", kCrc = "2DFD2D88", kOld = "12345X789";
  const std::string fix = Rec(5, 'U', "6"), fdt = Rec(5, 'u', "6");
  const std::uint32_t kPointer3 = 3u * 65536u + 18u;
  struct Case {
    CommandFn run;
    std::uint32_t phase;  // checkpoint phase before
    Files before;
    Strings params;
    std::uint32_t code;
    Strings error;
    std::string step;
    std::vector<std::uint32_t> phases;
    Files after;
    Strings pointer_call;
  } cases[] = {
      {RunFixUpdate, 0, {{old_file, kOld}, {upd, fix}}, {old_file, "2dfd 2D88", upd, new_dir}, 0, {},
       "Fix-Update (" + old_file + ")", {2, 0}, {{new_file, kCheck}, {old_file, kOld}}, {}},
      // CRC 0 with "XXXXXX" skips the check; lower case does not count.
      {RunFixUpdate, 2, {{new_file, kCheck}}, {"NOSEPARATOR", "0", "XXXXXX", new_dir}, 0, {},
       "Fix-Update (NOSEPARATOR)", {0}, {{new_file, kCheck}}, {}},
      {RunFixUpdate, 2, {{new_file, kCheck}}, {old_file, "0", "xxxxxx", new_dir}, 16,
       {"ctl.txt", "00000000", new_file, kCrc}, "Fix-Update (" + old_file + ")", {2}, {}, {}},
      {RunFixUpdate, 2, {}, {"NOSEPARATOR", "1", upd, new_dir}, 8, {"NOSEPARATOR"}, "Fix-Update (NOSEPARATOR)", {2},
       {}, {}},
      {RunFdtUpdate, 0, {{t12, kOld}, {upd, fdt}, {str, StructureFile("T@.DAT", "P@.IDX")}},
       {t12, kCrc, upd, new_dir, str}, 0, {}, "FDT-Update (" + t12 + ")", {2, 3, 0}, {{at("new/T12.DAT"), kCheck}},
       {str, at("new/T12.DAT"), at("new/P12.IDX")}},
      {RunFdtUpdate, 0, {{old_file, kOld}, {upd, fdt}, {str, StructureFile("T.DAT", "P.IDX")}},
       {old_file, kCrc, upd, new_dir, str}, kPointer3, {str, new_file, at("new/P.IDX")},
       "FDT-Update (" + old_file + ")", {2, 3, 3}, {{new_file, kCheck}}, {str, new_file, at("new/P.IDX")}},
      {RunFdtUpdate, 0, {{old_file, kOld}, {upd, fdt}, {str, StructureFile("T@.DAT", "PTR.IDX")}},
       {old_file, kCrc, upd, new_dir, str}, 8, {at("new/PTR.IDX")}, "FDT-Update (" + old_file + ")", {2, 3, 3}, {}, {}},
      // A removed table takes its index along.
      {RunFdtUpdate, 0,
       {{t12, std::string("\x01\x00Z", 3)}, {upd, Rec(0, 'D', 0)}, {str, StructureFile("T@.DAT", "P@.IDX")},
        {at("new/P12.IDX"), "stale"}},
       {t12, "0", upd, new_dir, str}, 0, {}, "FDT-Update (" + t12 + ")", {2, 3, 0},
       {{at("new/T12.DAT"), std::nullopt}, {at("new/P12.IDX"), std::nullopt}}, {}},
      {RunFixUpdateInPlace, 0, {{old_file, "abc"}, {upd, Rec(0, 'D', 3)}}, {old_file, "0", upd}, 0, {},
       "Fix-Update (" + old_file + ")", {2, 0}, {{old_file, std::nullopt}, {temp, std::nullopt}}, {}},
      {RunFixUpdateInPlace, 0, {{old_file, kOld}, {upd, fix}}, {old_file, "2DFD2D89", upd}, 16,
       {"ctl.txt", "2DFD2D89", temp, kCrc}, "Fix-Update (" + old_file + ")", {2, 2}, {{old_file, kOld}, {temp, kCheck}},
       {}},
      // On its own temporary name.
      {RunFixUpdateInPlace, 0, {{at("old/T.du$"), kOld}, {upd, fix}}, {at("old/T.du$"), kCrc, upd}, 12,
       {temp}, "Fix-Update (" + at("old/T.du$") + ")", {0}, {{at("old/T.du$"), kOld}}, {}},
      // A read-only old file (last: it stays) keeps both files.
      {RunFixUpdateInPlace, 0, {{old_file, kOld}, {upd, fix}}, {old_file, kCrc, upd}, 5, {old_file},
       "Fix-Update (" + old_file + ")", {2, 0}, {{old_file, kOld}, {temp, kCheck}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step + " " + std::to_string(c.code));
    fs::remove_all(dir.path() / "old");
    fs::remove_all(dir.path() / "new");
    for (const auto& [path, content] : c.before) test::WriteFile(path, *content);
    fs::create_directories(new_dir);
    if (c.code == 5) test::MakeReadOnly(old_file);
    PatchHost host;
    host.checkpoint.phase = c.phase;
    host.pointer_result = static_cast<int>(c.code >> 16);  // the subcode is the pointer component's value
    for (std::size_t i = 0; i < c.params.size(); ++i) host.ctx.param[i] = c.params[i];
    EXPECT_EQ(c.run(host).raw(), c.code);
    test::ExpectOutcome(host, c.code, c.error, c.step);
    EXPECT_EQ(host.phases_written, c.phases);
    EXPECT_EQ(host.checkpoint.done_items, 1u);  // failed or not, past the slot check
    for (const auto& [path, content] : c.after) {
      EXPECT_EQ(fs::exists(path), content.has_value()) << path;
      EXPECT_EQ(test::ReadFile(path), content.value_or("")) << path;
    }
    EXPECT_EQ(host.pointer_calls.size(), c.pointer_call.empty() ? 0u : 1u);
    EXPECT_EQ(host.pointer_calls.empty() ? Strings{} : host.pointer_calls[0], c.pointer_call);
  }
}

// ---- in place under failing file primitives: the old file stays as it was
// until the new version is verified, a failed rename leaves the verified
// version under the "DU$" name, and a later run of the same line finishes
// the update from either state.

// An old file larger than the output buffer, and an update (in either
// token set) that replaces, inserts and deletes bytes at known places.
std::string OldData() {
  std::string s(100000, '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}
const std::string kOld = OldData();
const std::string kNew = kOld.substr(0, 5) + "REPLACED" + kOld.substr(13, 70000 - 13) + std::string(300, 'I') +
                         kOld.substr(70000, 20000) + kOld.substr(90010);
std::string UpdateData(bool table) {
  return Rec(5, table ? 'u' : 'U', "REPLACED") + Rec(70000, table ? 'a' : 'A', std::string(300, 'I')) +
         Rec(90000, table ? 'd' : 'D', 10);
}

// The errors each failing primitive may lead to. A failed open of the old
// file reads as a missing old file (28); a failed read of it as a position
// beyond its end (15); a short update data file as a bad token or early end;
// the structure file of the pointer step as a missing table (17).
const test::DesignedErrors kDesignedErrors = {
    {Call::kOpen,
     {Err::kCannotOpenUpdateFile, Err::kOldFileMissing, Err::kCannotCreateNewFile, Err::kCannotOpenSource,
      Err::kFdtNotFound}},
    {Call::kRead,
     {Err::kFilePositionInvalid, Err::kUnexpectedEofFile, Err::kInvalidToken, Err::kCannotOpenSource,
      Err::kFileCheckFailed, Err::kFdtNotFound, Err::kOldFileMissing}},
    {Call::kWrite, {Err::kCannotCreateNewFile}},
    {Call::kFlush, {Err::kCannotCreateNewFile}},
    {Call::kClose, {Err::kCannotCreateNewFile}},
    {Call::kRemove, {Err::kCannotDeleteFile}},
    // A rename over the old file that is refused counts as the failed delete.
    {Call::kMove, {Err::kCannotRename, Err::kCannotDeleteFile}},
};

// Every failing call leaves the file old or verified new. The run loop
// starts every line at phase 0, so a second run of the line meets whatever
// the failed one left: from the old file it must finish the update, from a
// failed rename it must not lose the verified version, and from a finished
// replacement it may fail but must not touch the new file.
TEST(PatchInPlaceFault, EveryFailingCallLeavesAStateASecondRunFinishes) {
  std::uint32_t new_crc = 0;
  CCrc32::AddBytes(new_crc, kNew.data(), kNew.size());
  for (const auto& [run_command, table, name] : {std::tuple{&RunFixUpdateInPlace, false, "Fix-Update"},
                                                 std::tuple{&RunFdtUpdateInPlace, true, "FDT-Update-InPlace"}}) {
    SCOPED_TRACE(name);
    test::ForEveryFileFault([&](const test::FaultCase& c, os::fault::FaultScope& faults) {
      test::TempDir dir;
      const std::string target = test::Native(dir, "data/T.DAT"), temp = test::Native(dir, "data/T.DU$");
      test::WriteFile(target, kOld);
      test::WriteFile(dir / "upd.bin", UpdateData(table));
      test::WriteFile(dir / "T.STR", StructureFile("T.DAT", "T.IDX"));
      const auto run = [&](PatchHost& host) {
        return host.Run(run_command, {target, CrcHex(new_crc), dir / "upd.bin", table ? dir / "T.STR" : ""});
      };
      PatchHost host;
      const ErrorCode rc = run(host);
      ASSERT_EQ(host.steps.size(), 1u);
      EXPECT_EQ(host.steps[0].text, std::string(name) + " (" + target + ")");
      EXPECT_EQ(host.steps[0].raw, rc.raw());
      EXPECT_EQ(host.steps[0].success, rc.ok());
      ASSERT_EQ(host.errors.size(), rc.ok() ? 0u : 1u);
      auto left = test::Snapshot(dir.path() / "data");
      if (!rc.ok()) {
        EXPECT_EQ(host.errors[0].code, rc.code());
        test::ExpectDesignedError(kDesignedErrors, c.call, rc.code());
      }
      if (left.count("T.DAT") == 0) {
        // Deleted and not renamed: the verified version waits under the "DU$" name.
        EXPECT_TRUE(rc.Is(Err::kCannotRename));
        EXPECT_EQ(host.errors.at(0).params, (Strings{temp, target}));
        EXPECT_TRUE(test::Holds(left["T.DU$"], kNew, "temporary file"));
      } else if (left["T.DAT"] != kOld || rc.ok()) {
        EXPECT_TRUE(test::Holds(left["T.DAT"], kNew, "old file damaged"));
      }
      EXPECT_FALSE(rc.ok() && left.count("T.DU$") != 0);
      left.erase("T.DAT");
      left.erase("T.DU$");  // kept by design after a failed apply or check
      test::ExpectNothingLeft(left);
      if (!faults.Fired()) return;  // its one failure spent, the plan lets the second run be
      const bool replaced = test::ReadFile(target) == kNew;
      PatchHost again;
      const ErrorCode second = run(again);
      EXPECT_TRUE(replaced || second.ok()) << "error " << second.code();
      EXPECT_TRUE(test::Holds(test::ReadFile(target), kNew, "after the second run"));
    });
  }
}

}  // namespace
}  // namespace veupd
