// Fix-Update and FDT-Update in place under failing file primitives: the old
// file stays as it was until the new version is verified, a failed rename
// leaves the verified version under the "DU$" name, and a later run of the
// same line finishes the update from either state.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "commands/fake_host.h"
#include "fault_support.h"
#include "formats/crc32.h"
#include "patch/patch_commands.h"
#include "patch/patch_engine.h"
#include "patch/patch_test_data.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using os::fault::Call;
using test::Rec;
using test::WriteFile;

struct PatchHost : test::FakeHost {
  PatchHost() : FakeHost(kPatchPayloadGrowStep, kPatchCopyBufferSize) {}
};

std::uint16_t Code(Err e) { return static_cast<std::uint16_t>(e); }

// An old file larger than the output buffer, and an update that replaces,
// inserts and deletes bytes at known places.
std::string OldData() {
  std::string s(100000, '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}

const std::string kOld = OldData();
const std::string kReplaced = "REPLACED";
const std::string kInserted(300, 'I');
constexpr std::uint16_t kDeleted = 10;

std::string NewData() {
  return kOld.substr(0, 5) + kReplaced + kOld.substr(5 + kReplaced.size(), 70000 - 5 - kReplaced.size()) +
         kInserted + kOld.substr(70000, 20000) + kOld.substr(90000 + kDeleted);
}

// The same edit in either token set: Fix-Update's tokens or FDT-Update's
// byte tokens.
std::string UpdateData(bool table) {
  return Rec(5, table ? 'u' : 'U', kReplaced) + Rec(70000, table ? 'a' : 'A', kInserted) +
         Rec(90000, table ? 'd' : 'D', kDeleted);
}

std::string Hex8(const std::string& data) {
  std::uint32_t crc = 0;
  CCrc32::AddBytes(crc, data.data(), data.size());
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
  return text;
}

struct Command {
  const char* name;
  ErrorCode (*run)(CommandHost&);
  bool table;
  const char* step;
};

const Command kCommands[] = {
    {"fix in place", RunFixUpdateInPlace, false, "Fix-Update"},
    {"fdt in place", RunFdtUpdateInPlace, true, "FDT-Update-InPlace"},
};

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

struct InPlaceRun {
  explicit InPlaceRun(const Command& c) : command(c) {
    fs::create_directories(dir.path() / "data");
    WriteFile(target, kOld);
    WriteFile(update, UpdateData(c.table));
    WriteFile(structure, test::StructureFile("T.DAT", "T.IDX"));
  }

  ErrorCode Go(PatchHost& on) {
    return on.Run(command.run, {target, Hex8(NewData()), update, command.table ? structure : ""});
  }
  ErrorCode Go() { return Go(host); }

  const Command& command;
  test::TempDir dir;
  std::string target = test::Native(dir, "data/T.DAT");
  std::string temp = test::Native(dir, "data/T.DU$");
  std::string update = dir / "upd.bin";
  std::string structure = dir / "T.STR";
  PatchHost host;
};

void CheckFailedRun(InPlaceRun& run, ErrorCode rc, Call call) {
  const PatchHost& host = run.host;
  const std::string step = std::string(run.command.step) + " (" + run.target + ")";
  ASSERT_EQ(host.steps.size(), 1u);
  EXPECT_EQ(host.steps[0].text, step);
  EXPECT_EQ(host.steps[0].success, rc.ok());
  auto left = test::Snapshot(run.dir.path() / "data");
  if (rc.ok()) {
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(left.size(), 1u);
    EXPECT_TRUE(test::Holds(left["T.DAT"], NewData(), "new file"));
    return;
  }
  EXPECT_EQ(host.steps[0].code, rc.code());
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].code, rc.code());
  test::ExpectDesignedError(kDesignedErrors, call, rc.code());

  const auto target = left.find("T.DAT");
  if (target == left.end()) {
    // Deleted and not renamed: the verified version waits under the "DU$" name.
    EXPECT_EQ(host.errors[0].code, Code(Err::kCannotRename));
    EXPECT_EQ(test::Given(host.errors[0]), (std::vector<std::string>{run.temp, run.target}));
    EXPECT_TRUE(test::Holds(left["T.DU$"], NewData(), "temporary file"));
  } else if (target->second != kOld) {
    EXPECT_TRUE(test::Holds(target->second, NewData(), "old file damaged"));
  }
  left.erase("T.DAT");
  left.erase("T.DU$");  // kept by design after a failed apply or check
  test::ExpectNothingLeft(left);
}

// Every failing call leaves the file old or verified new. The run loop
// starts every line at phase 0, so a second run of the line meets whatever
// the failed one left: from the old file it must finish the update, from a
// failed rename it must not lose the verified version, and from a finished
// replacement it may fail but must not touch the new file.
TEST(PatchInPlaceFault, EveryFailingCallLeavesAStateASecondRunFinishes) {
  for (const Command& command : kCommands) {
    SCOPED_TRACE(command.name);
    test::ForEveryFileFault([&](const test::FaultCase& c, os::fault::FaultScope& faults) {
      InPlaceRun run(command);
      CheckFailedRun(run, run.Go(), c.call);
      if (!faults.Fired()) return;  // its one failure spent, the plan lets the second run be
      const bool replaced = test::ReadFile(run.target) == NewData();
      PatchHost again;
      const ErrorCode rc = run.Go(again);
      EXPECT_TRUE(replaced || rc.ok()) << "error " << rc.code();
      EXPECT_TRUE(test::Holds(test::ReadFile(run.target), NewData(), "after the second run"));
    });
  }
}

}  // namespace
}  // namespace veupd
