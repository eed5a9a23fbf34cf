// The patch engine on real files: update data, every token, the order of checks and every error with its parameters;
// its four commands through a fake host, also under failing file primitives.
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
#include "formats/dyn_buf.h"
#include "formats/text_format.h"
#include "patch/patch_commands.h"
#include "patch/patch_engine.h"
#include "patch/patch_steps.h"
#include "patch/patch_test_data.h"
#include "patch/update_data.h"
#include "test_support.h"

namespace veupd::test {
namespace {

namespace fs = std::filesystem;
using os::fault::Call;

std::span<const std::uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The writer's records and trailer: the old file's CRC, then the low half of the CRC-32 of all bytes before it. The
// patch engine stops before the trailer (fewer than 7 bytes); a scan finds the old CRC only in a whole file.
TEST(UpdateDataTest, WriterTrailerAndScan) {
  TempDir dir;
  UpdateDataWriter w;
  ASSERT_TRUE(w.Open(dir / "u.bin").ok());
  EXPECT_TRUE(w.Replace(0, Span("J")).ok() && w.Delete(5, 6).ok() && w.Insert(11, Span("!")).ok());
  EXPECT_EQ(w.BytesWritten(), 23u);
  // Payloads that disagree with the length are refused.
  EXPECT_FALSE(w.Write({0, token::kAdd, 3}, Span("ab")).ok());
  EXPECT_FALSE(w.Write({0, token::kDeleteBytes, 3}, Span("abc")).ok());
  EXPECT_FALSE(w.Insert(0, std::vector<std::uint8_t>(kMaxPayload + 1)).ok());
  ASSERT_TRUE(w.WriteOldCrcTrailer(0x11223344).ok() && w.Close().ok());
  const std::string whole = ReadFile(dir / "u.bin");
  ASSERT_EQ(whole.size(), 23u + kOldCrcTrailerSize);
  EXPECT_EQ(whole.substr(0, 27), Rec(0, 'U', "J") + Rec(5, 'D', 6) + Rec(11, 'A', "!") + "\x44\x33\x22\x11");
  WriteFile(dir / "old", "HELLO WORLD");
  PatchErrorList errors;
  EXPECT_TRUE(ApplyUpdate(dir / "old", dir / "u.bin", dir / "new", TokenSet::kFix, errors).ok());
  EXPECT_EQ(ReadFile(dir / "new"), "JELLO!");

  std::string changed = whole, bad_check = whole;
  changed[7] = 'K';  // the payload of the first record
  bad_check.back() = static_cast<char>(bad_check.back() ^ 1);
  struct Case {
    std::string bytes;
    std::optional<std::uint32_t> old_crc;
    bool damaged, short_payload;
  } cases[] = {
      {whole, 0x11223344, false, false},          {whole.substr(0, 23), std::nullopt, false, false},
      {changed, std::nullopt, true, false},       {bad_check, std::nullopt, true, false},
      {whole.substr(0, 26), std::nullopt, true, false},  // cut in the trailer
      {whole.substr(0, 7), std::nullopt, true, true},    // cut in a payload
  };
  for (const auto& c : cases) {
    WriteFile(dir / "c.bin", c.bytes);
    const std::optional<UpdateDataScan> scan = ScanUpdateData(dir / "c.bin");
    ASSERT_TRUE(scan.has_value());
    EXPECT_EQ(std::tuple(scan->old_crc, scan->Damaged(), scan->short_payload),
              std::tuple(c.old_crc, c.damaged, c.short_payload)) << c.bytes.size();
  }
  EXPECT_FALSE(ScanUpdateData(dir / "missing.bin").has_value());

  ASSERT_TRUE(w.Open(dir / "u.bin").ok());
  EXPECT_TRUE(w.Write({0x01020304, 'u', 2}, Span("xy")).ok());
  ASSERT_TRUE(w.Close().ok());
  EXPECT_EQ(ReadFile(dir / "u.bin"), std::string("\x04\x03\x02\x01u\x02\x00xy", 9));
}

TEST(InPlaceTemporaryPathTest, ReplacesTheTextAfterTheLastDot) {
  for (const auto& [path, temp] : {std::pair{"C:\\DATA\\TABLE.DAT", "C:\\DATA\\TABLE.DU$"},
                                   {"C:\\DATA\\TABLE", "C:\\DATA\\TABLE.DU$"},  // no dot anywhere
                                   {"D:\\V1.5\\TABLE", "D:\\V1.DU$"},           // a dot in the folder only
                                   {"/srv/a.tar.gz", "/srv/a.tar.DU$"},
                                   {"x.", "x.DU$"}}) EXPECT_EQ(InPlaceTemporaryPath(path), temp);
}

// An old file larger than the output buffer, and an update in either token set that replaces, inserts and deletes.
std::string OldData() {
  std::string s(100000, '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}
const std::string kBig = OldData();
const std::string kBigNew = kBig.substr(0, 5) + "REPLACED" + kBig.substr(13, 70000 - 13) + std::string(300, 'I') +
                         kBig.substr(70000, 20000) + kBig.substr(90010);
std::string UpdateData(bool table) {
  return Rec(5, table ? 'u' : 'U', "REPLACED") + Rec(70000, table ? 'a' : 'A', std::string(300, 'I')) +
         Rec(90000, table ? 'd' : 'D', 10);
}

const std::string kTable("\x03\x00" "ABC" "\x02\x00" "DE", 9);  // two table records

// Each failure is reported once with its parameters; what was written before it stays in the new file.
TEST(ApplyTest, UpdatesGiveTheseBytesOrThisError) {
  constexpr TokenSet kFix = TokenSet::kFix, kFdt = TokenSet::kFdt;
  const ErrorCode ok;
  const auto none = std::nullopt;  // no old file, or the new file not checked
  const struct {
    std::optional<std::string> old;
    std::string update;
    TokenSet tokens;
    ErrorCode code;
    Strings params;
    std::optional<std::string> result;  // the new file afterwards
  } cases[] = {
      // U replaces a table record whole, u its bytes; D deletes the whole record, d exactly its length.
      {kTable, Rec(5, 'U', "XYZ"), kFdt, ok, {}, std::string("\x03\x00" "ABC" "\x03\x00" "XYZ", 10)},
      {kTable, Rec(5, 'u', "XYZ"), kFdt, ok, {}, std::string("\x03\x00" "ABC" "XYZ" "E", 9)},
      {kTable, Rec(0, 'D', 1), kFdt, ok, {}, std::string("\x02\x00" "DE", 4)},
      {kTable, Rec(2, 'd', 1), kFdt, ok, {}, std::string("\x03\x00" "BC" "\x02\x00" "DE", 8)},
      // A of length zero writes an empty record; other zero lengths write and skip nothing.
      {"xy", Rec(1, 'A', 0) + Rec(1, 'a', 0) + Rec(1, 'a', "-"), kFdt, ok, {}, std::string("x\x00\x00-y", 5)},
      {"abcdef", Rec(1, 'D', 0) + Rec(2, 'U', 0) + Rec(3, 'A', 0) + Rec(4, 'D', 1), kFix, ok, {}, "abcdf"},
      // Equal positions apply in file order.
      {"0123456789", Rec(4, 'A', "ab") + Rec(4, 'D', 3) + Rec(7, 'A', "c") + Rec(7, 'U', "X"), kFix, ok, {},
       "0123abcX89"},
      {kBig, "", kFix, ok, {}, kBig},  // an empty update copies the old file
      {"abc", Rec(1, 'U', "Q") + "AAAAAA", kFix, ok, {}, "aQc"},  // stray trailing bytes ignored
      // Without an old file positions are ignored and adds concatenate.
      {none, Rec(50, 'A', "one,") + Rec(3, 'A', "two,") + Rec(-1, 'A', "three"), kFix, ok, {}, "one,two,three"},
      {"abc", Rec(1, 'u', "Z"), kFix, Err::kInvalidToken, {"117"}, none},  // a table token in a fix update
      {"abc", Rec(0, 'A', 10, "12345"), kFix, Err::kUnexpectedEofFile, {"5", "10"}, none},  // read, length
      // The payload is read before the token is judged: 14, not 13 or 28.
      {"abc", Rec(0, 'X', 4, "12"), kFix, Err::kUnexpectedEofFile, {"2", "4"}, none},
      {none, Rec(0, 'U', 4, "1"), kFix, Err::kUnexpectedEofFile, {"1", "4"}, none},
      // The 'A' after it proves the payload was consumed: 13 stops before it.
      {"abc", Rec(1, 'X', "zz") + Rec(1, 'A', "q"), kFix, Err::kInvalidToken, {"88"}, "a"},
      {"abc", Rec(1, '\0', 0), kFix, Err::kInvalidToken, {"0"}, none},
      {none, Rec(0, 'A', "x") + Rec(0, 'D', 1), kFix, Err::kOldFileMissing, {"68"}, none},
      {none, Rec(0, 'U', "x"), kFix, Err::kOldFileMissing, {"85"}, none},
      {none, Rec(0, 'd', 2), kFdt, Err::kOldFileMissing, {"100"}, none},
      {"0123456789", Rec(5, 'U', "x") + Rec(4, 'A', "y"), kFix, Err::kFilePositionInvalid, {"6", "4"}, "01234x"},
      {"abc", Rec(1, 'D', 5), kFix, Err::kFilePositionInvalid, {"6", "3"}, "a"},  // delete beyond the end
      // A position beyond the old file is never filled in.
      {"abc", Rec(10, 'A', "x"), kFix, Err::kFilePositionInvalid, {"3", "10"}, "abc"},
      // Largest positive position: the copy stops at the old file's end.
      {"abc", Rec(0x7FFFFFFF, 'A', "x"), kFix, Err::kFilePositionInvalid, {"3", "2147483647"}, none},
      // High bit set: a negative position, below any old offset.
      {"abc", Rec(0x80000000LL, 'A', "x"), kFix, Err::kFilePositionInvalid, {"0", "-2147483648"}, none},
      // One byte left where the record's 2-byte length should be; a record longer than the file.
      {std::string("\x01\x00" "Z" "\x07", 4), Rec(3, 'D', 0), kFdt, Err::kFilePositionInvalid, {"4", "3"}, none},
      {std::string("\x09\x00" "AB", 4), Rec(0, 'U', "Q"), kFdt, Err::kFilePositionInvalid, {"11", "4"},
       std::string("\x01\x00" "Q", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    TempDir dir;
    if (c.old) WriteFile(dir / "old", *c.old);
    WriteFile(dir / "upd", c.update);
    PatchErrorList errors;
    EXPECT_EQ(ApplyUpdate(dir / "old", dir / "upd", dir / "new", c.tokens, errors), c.code);
    ASSERT_EQ(errors.entries.size(), c.code.ok() ? 0u : 1u);
    EXPECT_EQ(c.code.ok() ? Strings{} : errors.entries[0].params, c.params);
    EXPECT_TRUE(!c.result || ReadFile(dir / "new") == *c.result);
    EXPECT_TRUE(ReadFile(dir / "old") == c.old.value_or(""));
  }
}

TEST(ApplyTest, RefusedPathsKeepTheOldFile) {
  TempDir dir;
  const std::string upd = dir / "upd.dat";
  PatchErrorList errors;
  FakeHost host(kPatchPayloadGrowStep, kPatchCopyBufferSize);
  PatchBuffers buffers{host.PayloadBuffer(), host.CopyBuffer()};
  const ApplyRequest req{.old_path = "old.bin", .update_path = upd, .new_path = "", .new_dir = dir.str()};
  // The update data file is opened first: its absence wins over the old path without a separator.
  EXPECT_TRUE(ApplyUpdate(req, buffers, errors).Is(Err::kCannotOpenUpdateFile));
  WriteFile(upd, Rec(0, 'U', "P"));
  errors.entries.clear();
  EXPECT_TRUE(ApplyUpdate(req, buffers, errors).Is(Err::kInvalidPath));
  ASSERT_EQ(errors.entries.size(), 1u);
  EXPECT_EQ(errors.entries[0].params, Strings{"old.bin"});
  // A new file over the old one.
  WriteFile(dir / "old.bin", "precious");
  EXPECT_TRUE(ApplyUpdate(dir / "old.bin", upd, dir / "old.bin", TokenSet::kFix, errors).Is(Err::kCannotCreateNewFile));
  EXPECT_EQ(ReadFile(dir / "old.bin"), "precious");
}

// "123456789" has the CRC-32 2DFD2D88 in the updater's variant; the old file and the update give it.
TEST(PatchCommandTest, OutcomesFilesAndPhases) {
  using Files = std::vector<std::pair<std::string, std::optional<std::string>>>;  // nullopt: absent
  TempDir dir;
  const auto at = [&](std::string_view relative) { return Native(dir, relative); };
  const std::string old_file = at("old/T.DAT"), new_dir = dir / "new", new_file = at("new/T.DAT"),
                    temp = at("old/T.DU$"), t12 = at("old/T12.DAT"), upd = dir / "upd.bin", str = dir / "T.STR";
  const std::string kCheck = "123456789", kCrc = "2DFD2D88", kOld = "12345X789";
  const std::string fix = Rec(5, 'U', "6"), fdt = Rec(5, 'u', "6");
  const std::string fix_step = "Fix-Update (" + old_file + ")", fdt_step = "FDT-Update (" + old_file + ")",
                    fdt12_step = "FDT-Update (" + t12 + ")", var = StructureFile("T@.DAT", "P@.IDX"),
                    new12 = at("new/T12.DAT"), p12 = at("new/P12.IDX"), pidx = at("new/P.IDX");
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
    std::vector<Strings> pointer_calls;
  } cases[] = {
      // The first empty slot fails with 4, before any phase.
      {RunFixUpdate, 0, {}, {"", "1", "u", "d"}, 4, {"PARAM1"}, "Fix-Update", {}, {}, {}},
      {RunFixUpdate, 0, {}, {"a\\b", "", "u", "d"}, 4, {"PARAM2"}, "Fix-Update (a\\b)", {}, {}, {}},
      {RunFixUpdate, 0, {}, {"a\\b", "1", "u", ""}, 4, {"PARAM4"}, "Fix-Update (a\\b)", {}, {}, {}},
      {RunFdtUpdate, 0, {}, {"a\\b", "1", "", "d", "s"}, 4, {"PARAM3"}, "FDT-Update (a\\b)", {}, {}, {}},
      {RunFdtUpdate, 0, {}, {"", "", "", ""}, 4, {"PARAM1"}, "FDT-Update", {}, {}, {}},
      {RunFdtUpdateInPlace, 0, {}, {"a\\b", "1", ""}, 4, {"PARAM3"}, "FDT-Update-InPlace (a\\b)", {}, {}, {}},
      {RunFixUpdateInPlace, 0, {}, {"a\\b", "", "u"}, 4, {"PARAM2"}, "Fix-Update (a\\b)", {}, {}, {}},
      {RunFixUpdate, 0, {{old_file, kOld}, {upd, fix}}, {old_file, "2dfd 2D88", upd, new_dir}, 0, {}, fix_step, {2, 0},
       {{new_file, kCheck}, {old_file, kOld}}, {}},
      // CRC 0 with "XXXXXX" skips the check; lower case does not count.
      {RunFixUpdate, 2, {{new_file, kCheck}}, {"NOSEPARATOR", "0", "XXXXXX", new_dir}, 0, {},
       "Fix-Update (NOSEPARATOR)", {0}, {{new_file, kCheck}}, {}},
      {RunFixUpdate, 2, {{new_file, kCheck}}, {old_file, "0", "xxxxxx", new_dir}, 16,
       {"ctl.txt", "00000000", new_file, kCrc}, fix_step, {2}, {}, {}},
      {RunFixUpdate, 2, {}, {"NOSEPARATOR", "1", upd, new_dir}, 8, {"NOSEPARATOR"}, "Fix-Update (NOSEPARATOR)", {2},
       {}, {}},
      {RunFdtUpdate, 0, {{t12, kOld}, {upd, fdt}, {str, var}}, {t12, kCrc, upd, new_dir, str}, 0, {}, fdt12_step,
       {2, 3, 0}, {{new12, kCheck}}, {{str, new12, p12}}},
      {RunFdtUpdate, 0, {{old_file, kOld}, {upd, fdt}, {str, StructureFile("T.DAT", "P.IDX")}},
       {old_file, kCrc, upd, new_dir, str}, 3u * 65536u + 18u, {str, new_file, pidx}, fdt_step, {2, 3, 3},
       {{new_file, kCheck}}, {{str, new_file, pidx}}},
      {RunFdtUpdate, 0, {{old_file, kOld}, {upd, fdt}, {str, StructureFile("T@.DAT", "PTR.IDX")}},
       {old_file, kCrc, upd, new_dir, str}, 8, {at("new/PTR.IDX")}, fdt_step, {2, 3, 3}, {}, {}},
      // A removed table takes its index along.
      {RunFdtUpdate, 0, {{t12, std::string("\x01\x00Z", 3)}, {upd, Rec(0, 'D', 0)}, {str, var}, {p12, "stale"}},
       {t12, "0", upd, new_dir, str}, 0, {}, fdt12_step, {2, 3, 0}, {{new12, std::nullopt}, {p12, std::nullopt}}, {}},
      {RunFixUpdateInPlace, 0, {{old_file, "abc"}, {upd, Rec(0, 'D', 3)}}, {old_file, "0", upd}, 0, {}, fix_step,
       {2, 0}, {{old_file, std::nullopt}, {temp, std::nullopt}}, {}},
      {RunFixUpdateInPlace, 0, {{old_file, kOld}, {upd, fix}}, {old_file, "2DFD2D89", upd}, 16,
       {"ctl.txt", "2DFD2D89", temp, kCrc}, fix_step, {2, 2}, {{old_file, kOld}, {temp, kCheck}}, {}},
      // On its own temporary name.
      {RunFixUpdateInPlace, 0, {{at("old/T.du$"), kOld}, {upd, fix}}, {at("old/T.du$"), kCrc, upd}, 12,
       {temp}, "Fix-Update (" + at("old/T.du$") + ")", {0}, {{at("old/T.du$"), kOld}}, {}},
      // A read-only old file (last: it stays) keeps both files.
      {RunFixUpdateInPlace, 0, {{old_file, kOld}, {upd, fix}}, {old_file, kCrc, upd}, 5, {old_file}, fix_step, {2, 0},
       {{old_file, kOld}, {temp, kCheck}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step + " " + std::to_string(c.code));
    for (const char* sub : {"old", "new"}) fs::remove_all(dir.path() / sub);
    for (const auto& [path, content] : c.before) WriteFile(path, *content);
    fs::create_directories(new_dir);
    if (c.code == 5) MakeReadOnly(old_file);
    FakeHost host(kPatchPayloadGrowStep, kPatchCopyBufferSize);  // the buffers the updater gives
    host.checkpoint.phase = c.phase;
    host.pointer_result = static_cast<int>(c.code >> 16);  // the subcode is the pointer component's value
    ExpectOutcome(host, host.Run(c.run, c.params), c.code, c.error, c.step);
    EXPECT_EQ(host.phases_written, c.phases);
    EXPECT_EQ(host.checkpoint.done_items, c.code == 4 ? 0u : 1u);  // failed or not, past the slot check
    for (const auto& [path, content] : c.after)
      EXPECT_EQ(fs::exists(path) ? std::optional(ReadFile(path)) : std::nullopt, content) << path;
    EXPECT_EQ(host.pointer_calls, c.pointer_calls);
  }
}

// A failed open of the old file reads as a missing old file (28), a failed read of it as a position beyond its end
// (15), a short update data file as a bad token or early end, an unreadable structure file as a missing table (17).
const DesignedErrors kDesignedErrors = {
    {Call::kOpen,
     {Err::kCannotOpenUpdateFile, Err::kOldFileMissing, Err::kCannotCreateNewFile, Err::kCannotOpenSource,
      Err::kFdtNotFound}},
    {Call::kRead,
     {Err::kFilePositionInvalid, Err::kUnexpectedEofFile, Err::kInvalidToken, Err::kCannotOpenSource,
      Err::kFileCheckFailed, Err::kFdtNotFound, Err::kOldFileMissing}},
    {Call::kWrite, {Err::kCannotCreateNewFile}}, {Call::kFlush, {Err::kCannotCreateNewFile}},
    {Call::kClose, {Err::kCannotCreateNewFile}}, {Call::kRemove, {Err::kCannotDeleteFile}},
    // A rename over the old file that is refused counts as the failed delete.
    {Call::kMove, {Err::kCannotRename, Err::kCannotDeleteFile}},
};

// Every failing call leaves the file old or verified new (a failed rename: under the "DU$" name). A line runs again
// from phase 0, so a second run meets whatever the failed one left: from the old file it must finish the update, from
// a failed rename it must not lose the verified version, from a finished replacement it must not touch the new file.
TEST(PatchInPlaceFault, EveryFailingCallLeavesAStateASecondRunFinishes) {
  std::uint32_t new_crc = 0;
  CCrc32::AddBytes(new_crc, kBigNew.data(), kBigNew.size());
  for (const auto& [run_command, table, name] : {std::tuple{&RunFixUpdateInPlace, false, "Fix-Update"},
                                                 std::tuple{&RunFdtUpdateInPlace, true, "FDT-Update-InPlace"}}) {
    SCOPED_TRACE(name);
    ForEveryFileFault([&](const FaultCase& c, os::fault::FaultScope& faults) {
      TempDir dir;
      const std::string target = Native(dir, "data/T.DAT"), temp = Native(dir, "data/T.DU$");
      WriteFile(target, kBig);
      WriteFile(dir / "upd.bin", UpdateData(table));
      WriteFile(dir / "T.STR", StructureFile("T.DAT", "T.IDX"));
      const auto run = [&](FakeHost& host) {
        return host.Run(run_command, {target, CrcHex(new_crc), dir / "upd.bin", table ? dir / "T.STR" : ""});
      };
      FakeHost host(kPatchPayloadGrowStep, kPatchCopyBufferSize);
      const ErrorCode rc = run(host);
      // The parameters are checked below where they are known.
      ExpectOutcome(host, rc, rc.raw(), host.errors.empty() ? Strings{} : host.errors[0].params,
                    std::string(name) + " (" + target + ")");
      if (!rc.ok()) ExpectDesignedError(kDesignedErrors, c.call, rc.code());
      auto left = Snapshot(dir.path() / "data");
      if (left.count("T.DAT") == 0) {
        // Deleted and not renamed: the verified version waits under the "DU$" name.
        EXPECT_TRUE(rc.Is(Err::kCannotRename));
        EXPECT_EQ(host.errors.at(0).params, (Strings{temp, target}));
        EXPECT_TRUE(Holds(left["T.DU$"], kBigNew, "temporary file"));
      } else if (left["T.DAT"] != kBig || rc.ok()) {
        EXPECT_TRUE(Holds(left["T.DAT"], kBigNew, "old file damaged"));
      }
      EXPECT_FALSE(rc.ok() && left.count("T.DU$") != 0);
      left.erase("T.DAT");
      left.erase("T.DU$");  // kept by design after a failed apply or check
      ExpectNothingLeft(left);
      if (!faults.Fired()) return;  // its one failure spent, the plan lets the second run be
      const bool replaced = ReadFile(target) == kBigNew;
      FakeHost again(kPatchPayloadGrowStep, kPatchCopyBufferSize);
      const ErrorCode second = run(again);
      EXPECT_TRUE(replaced || second.ok()) << "error " << second.code();
      EXPECT_TRUE(Holds(ReadFile(target), kBigNew, "after the second run"));
    });
  }
}

}  // namespace
}  // namespace veupd::test
