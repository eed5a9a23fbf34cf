// The patch engine on real files: update data, every token, the order of checks and every error with its parameters;
// its four commands through a fake host, also under failing file primitives; and veupd-tool as a level's author meets
// it: help, crc and diff, trying a patch without a level, control lines to paste and the dry run of a whole level, with
// the real updater running the results.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "commands/fake_host.h"
#include "fault_support.h"
#include "formats/crc32.h"
#include "formats/text_format.h"
#include "integration/level_runner.h"
#include "patch/patch_commands.h"
#include "patch/patch_engine.h"
#include "patch/patch_steps.h"
#include "patch/update_data.h"
#include "test_support.h"

namespace veupd::test {
namespace {

namespace fs = std::filesystem;
using os::fault::Call;

// One update data record, bytes laid out by hand: position (LE32), token, length (LE16), payload.
std::string Rec(std::int64_t position, char tok, std::uint16_t length, std::string_view payload = {}) {
  const auto p = static_cast<std::uint32_t>(position);
  return std::string{char(p), char(p >> 8), char(p >> 16), char(p >> 24), tok, char(length), char(length >> 8)} +
         std::string(payload);
}
std::string Rec(std::int64_t position, char tok, std::string_view payload) {
  return Rec(position, tok, static_cast<std::uint16_t>(payload.size()), payload);
}

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

  using Scan = std::tuple<std::optional<std::uint32_t>, bool, bool>;  // old CRC, damaged, short payload
  const auto none = std::nullopt;
  for (const auto& [bytes, expected] :
       {std::pair{whole, Scan{0x11223344, false, false}}, {whole.substr(0, 23), Scan{none, false, false}},
        {whole.substr(0, 7) + 'K' + whole.substr(8), Scan{none, true, false}},  // the first record's payload changed
        {whole.substr(0, 28) + static_cast<char>(whole[28] ^ 1), Scan{none, true, false}},  // the check changed
        {whole.substr(0, 26), Scan{none, true, false}},                                     // cut in the trailer
        {whole.substr(0, 7), Scan{none, true, true}}}) {                                    // cut in a payload
    WriteFile(dir / "c.bin", bytes);
    const std::optional<UpdateDataScan> scan = ScanUpdateData(dir / "c.bin");
    ASSERT_TRUE(scan.has_value());
    EXPECT_EQ(std::tuple(scan->old_crc, scan->Damaged(), scan->short_payload), expected) << bytes.size();
  }
  EXPECT_FALSE(ScanUpdateData(dir / "missing.bin").has_value());
  ASSERT_TRUE(w.Open(dir / "u.bin").ok() && w.Write({0x01020304, 'u', 2}, Span("xy")).ok() && w.Close().ok());
  EXPECT_EQ(ReadFile(dir / "u.bin"), Rec(0x01020304, 'u', "xy"));
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
    {Call::kOpen, {Err::kCannotOpenUpdateFile, Err::kOldFileMissing, Err::kCannotCreateNewFile, Err::kCannotOpenSource,
                   Err::kFdtNotFound}},
    {Call::kRead, {Err::kFilePositionInvalid, Err::kUnexpectedEofFile, Err::kInvalidToken, Err::kCannotOpenSource,
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
      for (const char* name : {"T.DAT", "T.DU$"}) left.erase(name);  // T.DU$ is kept after a failed apply or check
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

// ---- veupd-tool from the output folder

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun Tool(const TempDir& scratch, const std::vector<std::string>& args) {
  const std::string out_file = scratch / "tool_out.txt", err_file = scratch / "tool_err.txt";
  const int status = RunQuoted(OutProgram("veupd-tool"), args, err_file, out_file);
  ToolRun run{status, ReadFile(out_file), ReadFile(err_file)};
  for (std::string* text : {&run.out, &run.err}) std::erase(*text, '\r');  // text streams on Windows
  return run;
}

std::string Crc(const TempDir& dir, const std::string& file) { return Tool(dir, {"crc", file}).out.substr(0, 8); }

TEST(ToolHelp, EveryFormAnswersWithItsStatus) {
  TempDir dir;
  WriteFile(dir / "digits", "123456789");
  WriteFile(dir / "abc", "abc");
  const std::string usage = "usage: veupd-tool COMMAND", unknown = "veupd-tool: unknown command 'nope'";
  // Prefixes of the outputs; an empty out stands for no output at all.
  for (const auto& [args, status, out, err] : {
      std::tuple<std::vector<std::string>, int, std::string, std::string>{{}, 2, "", usage}, {{"--help"}, 0, usage, ""},
      {{"help"}, 0, usage, ""},     {{"--version"}, 0, "veupd-tool ", ""},
      {{"help", "crc"}, 0, "  crc FILE...", ""},  {{"crc", "--help"}, 0, "  crc FILE...", ""},
      {{"help", "nope"}, 2, "", unknown},         {{"nope"}, 2, "", unknown},
      // The check values of the updater's CRC-32 variant.
      {{"crc", dir / "digits"}, 0, "2DFD2D88\n", ""},
      {{"crc", dir / "digits", dir / "abc"}, 0, "2DFD2D88  " + (dir / "digits") + "\nCA6598D0  " + (dir / "abc"), ""},
      {{"crc", dir / "missing"}, 1, "", ""}, {{"diff", "a"}, 2, "", ""}, {{"diff", "a", "b"}, 2, "", ""},  // no -o
      {{"diff", "a", "b", "-o", "c", "--structure", "s"}, 2, "", ""},  // needs --records
      {{"diff", "a", "b", "-o", "c", "--base", "%K=/x"}, 2, "", ""}, {{"check"}, 2, "", ""},
      {{"check", "--control", "x"}, 2, "", ""}}) {  // needs --root
    const ToolRun run = Tool(dir, args);
    const std::string out_start = run.out.substr(0, std::max<std::size_t>(out.size(), 1));
    EXPECT_EQ(std::tuple(run.status, out_start, run.err.substr(0, err.size())), std::tuple(status, out, err))
        << ::testing::PrintToString(args);
  }
}

// The printed control line, run by the updater, turns OLD into NEW.
TEST(PrintLine, RunsThroughTheUpdater) {
  // Length-prefixed records of a table data file.
  const auto record = [](const std::string& s) { return std::string{char(s.size()), char(s.size() >> 8)} + s; };
  std::mt19937 rng(7);
  std::string old_text, new_text;
  for (int i = 0; i < 300; ++i) {
    std::string content(rng() % 90, '\0');
    for (auto& ch : content) ch = static_cast<char>(rng());
    old_text += record(content);
    new_text += record(i % 37 == 5 ? content + "changed" : content);
    if (i % 50 == 3) new_text += record("inserted record");
  }
  for (const auto& [records, in_place, old_present, opcode] :
       {std::tuple{true, true, true, 'A'}, {false, true, false, 'B'}, {true, false, false, '0'}}) {
    SCOPED_TRACE(opcode);
    LevelRunner level;
    // Native separators: on Windows only '\' parts the file name (which the new file keeps) from its folder.
    const std::string old_path = level.Path((fs::path("data") / "TABLE.DAT").string()), target = level.Path("target");
    const std::string new_path = level.Path((fs::path("new") / "TABLE.DAT").string());
    for (const std::string& folder : {level.Path("data"), target}) fs::create_directories(folder);
    if (old_present) WriteFile(old_path, old_text);
    WriteFile(new_path, new_text);
    std::vector<std::string> args{"diff", old_path, new_path, "-o", level.Path("TABLE.UPD"), "--print-line"};
    if (records) args.push_back("--records");
    if (!in_place) args.insert(args.end(), {"--target", target});
    const ToolRun run = Tool(level.Dir(), args);
    ASSERT_EQ(run.status, 0);
    ASSERT_TRUE(run.out.starts_with(std::string("#") + opcode) && run.out.ends_with('\n')) << run.out;
    const LevelResult r = level.RunLevel(run.out.substr(0, run.out.size() - 1) + "\r\n");
    EXPECT_EQ(r.result, "1") << r.log;
    EXPECT_EQ(ReadFile(in_place ? old_path : target + "/TABLE.DAT"), new_text) << r.log;
  }
}

// A level authored with the tool: the printed lines name the installation and the update folder by their placeholders,
// check finds nothing wrong and leaves every file as it was, and the updater runs the level.
TEST(CheckTool, AGoodLevelPassesAndIsLeftUntouched) {
  if (IsWindowsBuild()) GTEST_SKIP() << "the level runner starts the updater through POSIX shell quoting";
  LevelRunner level;
  for (const auto& [name, text] : {std::pair{"inst/PROG/manual.txt", "hello old manual\n"},
                                   {"new/manual.txt", "hello new manual text\n"}, {"upd/DATA/A.DAT", "a"},
                                   {"inst/PROG/app.ini", "[V]\r\nLevel=1\r\n"}}) WriteFile(level.Path(name), text);
  fs::create_directories(level.Path("upd/PROG"));
  TempDir scratch;
  const std::string crc = Crc(scratch, level.Path("new/manual.txt"));
  const auto diff = [&](const std::string& update, std::vector<std::string> more) {
    std::vector<std::string> args{"diff", level.Path("inst/PROG/manual.txt"), level.Path("new/manual.txt"), "-o",
                                  update, "--print-line", "--base", "%0=" + level.Path("inst")};
    args.insert(args.end(), more.begin(), more.end());
    return Tool(scratch, args);
  };
  const ToolRun copy = diff(level.Path("upd/PROG/copy.upd"), {"--target", level.Path("upd/PROG"), "--base",
                                                              "%1=" + level.Path("upd/")});
  EXPECT_EQ(copy.out, "#4%0\\PROG\\manual.txt\t" + crc + "\t%1\\PROG\\copy.upd\t%1\\PROG\n");
  const ToolRun in_place = diff(level.Path("upd/PROG/manual.upd"), {"--base", "%1=" + level.Path("upd")});
  EXPECT_EQ(in_place.out, "#B%0\\PROG\\manual.txt\t" + crc + "\t%1\\PROG\\manual.upd\n");
  EXPECT_EQ(copy.err + in_place.err, "");
  // A path outside every base stays as it is, with a warning.
  const ToolRun outside = diff(scratch / "x.upd", {});
  EXPECT_EQ(outside.status, 0);
  EXPECT_NE(outside.err.find("is below no --base folder"), std::string::npos) << outside.err;

  fs::remove(level.Path("new/manual.txt"));
  level.Set("UpdDir0", level.Path("inst"));
  level.Set("UpdDir1", level.Path("upd"));
  WriteFile(level.ControlFile(), "#1%1\\DATA\\*.DAT\t%0\\DATA\r\n" + copy.out.substr(0, copy.out.size() - 1) + "\r\n" +
                                     in_place.out.substr(0, in_place.out.size() - 1) +
                                     "\r\n#3%0\\PROG\\app.ini\tA\tV\tLevel\t%L\r\n#8\r\n");
  WriteFile(level.ParamFile(), ParamText({{"Msg", level.Path("msg/MSG.STR")}, {"Language", "E"},
                                          {"File", level.ControlFile()}, {"UpdDir0", level.Path("inst")},
                                          {"UpdDir1", level.Path("upd")}}));
  const auto before = Snapshot(level.Dir().path());
  const ToolRun check = Tool(scratch, {"check", level.ParamFile()});
  EXPECT_EQ(check.status, 0) << check.out;
  for (const char* says : {"check: 0 error(s), 0 warning(s)", "line 3: #B%0\\PROG\\manual.txt|",
                           "ok: the old file is the version the update was made from"})
    EXPECT_NE(check.out.find(says), std::string::npos) << check.out;
  EXPECT_EQ(Snapshot(level.Dir().path()), before);
  const LevelResult r = level.RunWithCurrentFiles();
  EXPECT_EQ(r.exit_status, 0) << r.log;
  for (const char* path : {"upd/PROG/manual.txt", "inst/PROG/manual.txt"})
    EXPECT_EQ(ReadFile(level.Path(path)), "hello new manual text\n") << path;
}

// verify tells the three ways a patch line fails apart; apply refuses the first two before writing anything. What
// surprises authors shows in check as a warning or an error on its line; unreadable parameter files are named.
TEST(CheckTool, VerifyAndCheckTellWhatIsWrong) {
  TempDir dir;
  for (const auto& [name, text] : {std::pair{"DATA/lf.ini", "[A]\nk=1\n"}, {"DATA/old.txt", "old text\n"},
                                   {"DATA/other.txt", "other text\n"}, {"new.txt", "new text\n"},
                                   {"lf.ini", "[UPDATE]\nMsg=x\nLanguage=E\nFile=c.txt\n"},
                                   {"nofile.ini", "[UPDATE]\r\nMsg=x\r\nLanguage=E\r\n"}}) WriteFile(dir / name, text);
  ASSERT_EQ(Tool(dir, {"diff", dir / "DATA/old.txt", dir / "new.txt", "-o", dir / "DATA/m.upd"}).status, 0);
  const std::string crc = Crc(dir, dir / "new.txt"), upd = "\t" + crc + "\t%0\\DATA\\m.upd\t%0\\OUT";
  const std::string update = ReadFile(dir / "DATA/m.upd");
  WriteFile(dir / "cut.upd", update.substr(0, update.size() - 9));
  WriteFile(dir / "changed.upd", update.substr(0, 10) + static_cast<char>(update[10] ^ 0x20) + update.substr(11));
  const std::string right = "OK: the old file is the version the update was made from";
  for (const auto& [old_file, update_file, expected, status, says] :
       {std::tuple{"DATA/old.txt", "DATA/m.upd", crc, 0, right},
        {"DATA/other.txt", "DATA/m.upd", crc, 1, "wrong old version"},
        {"gone.txt", "DATA/m.upd", crc, 1, "is missing; the update was made from a file with CRC"},
        {"DATA/old.txt", "cut.upd", crc, 1, "damaged update data"},
        {"DATA/old.txt", "changed.upd", crc, 1, "damaged update data"},
        {"DATA/old.txt", "DATA/m.upd", "DEADBEEF", 1, "wrong expected CRC (old file and update data are right)"}}) {
    const ToolRun run = Tool(dir, {"verify", dir / old_file, dir / update_file, expected});
    EXPECT_EQ(run.status, status) << says;
    EXPECT_NE((run.out + run.err).find(says), std::string::npos) << run.out << run.err;
  }
  // apply writes the new file for the right old one only.
  EXPECT_EQ(Tool(dir, {"apply", dir / "DATA/other.txt", dir / "DATA/m.upd", dir / "out1.txt"}).status, 1);
  EXPECT_FALSE(fs::exists(dir.path() / "out1.txt"));
  const ToolRun applied = Tool(dir, {"apply", dir / "DATA/old.txt", dir / "DATA/m.upd", dir / "out2.txt"});
  EXPECT_EQ(applied.status, 0) << applied.err;
  EXPECT_EQ(ReadFile(dir / "out2.txt"), "new text\n");
  EXPECT_EQ(applied.out, (dir / "out2.txt") + " written, CRC " + crc + "\n");

  // A control file, or "@" and a parameter file.
  for (const auto& [control, says, status] : {
      std::tuple<std::string, const char*, int>{"\xEF\xBB\xBF#8\t\n", "UTF-8 byte order mark", 1},
      {"#E%0\\DATA\\a\tb\tc\td\n", "unknown opcode 'E': the line runs as FDT-Update", 1},
      {"1%0\\DATA\\a\tb\n", "starts with no prefix", 1},
      {"#8\t\n\n#8\t\n", "this line ends the level: the 1 line(s) behind it are never read", 0},
      {"#8\t" + std::string(300, 'x') + "\n", "is longer than 254 characters", 1},
      {"?8\t\n", "never fires; write #8", 0},
      {"#1%0\\DATA\\*.XYZ\t%0\\OUT\n", "copies 0 files", 0},
      {"#3%0\\DATA\\lf.ini\tA\tA\tk\t2\n", "lines end in LF alone", 0},
      {"#1%0\\DATA\\gone.dat\t%0\\OUT\n", "does not exist", 1},
      {"#C%0\\DATA\\old.txt\n", "PARAM2 is missing", 1},
      {"#4%0\\DATA\\other.txt" + upd + "\n", "wrong old version", 1},
      {"#4%0\\DATA\\old.txt\t12345678\t%0\\DATA\\m.upd\t%0\\OUT\n", "wrong expected CRC", 1},
      {"#4%0\\DATA\\old.txt" + upd + "\n", "check: 0 error(s), 0 warning(s)", 0},
      {"#C%0\\DATA\\old.txt\tx.txt\n#1%0\\DATA\\x.txt\t%0\\OUT\n", "is made by line 1", 0},
      {"@gone.ini", "not found or not readable", 1},
      {"@lf.ini", "lines end in LF alone", 1},
      {"@nofile.ini", "key File is missing or empty", 1}}) {
    SCOPED_TRACE(says);
    WriteFile(dir / "ctrl.txt", control);
    const ToolRun run = control[0] == '@' ? Tool(dir, {"check", dir / control.substr(1)})
                                          : Tool(dir, {"check", "--control", dir / "ctrl.txt", "--root", dir.str()});
    EXPECT_EQ(run.status, status) << run.out;
    EXPECT_NE(run.out.find(says), std::string::npos) << run.out;
  }
  EXPECT_EQ(ReadFile(dir / "DATA/old.txt"), "old text\n");
  EXPECT_FALSE(fs::exists(dir.path() / "OUT"));
}

}  // namespace
}  // namespace veupd::test
