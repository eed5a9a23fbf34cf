// The patch commands and create pointer through the real updater: the log
// entries, the checkpoint phase a failed step leaves, and index files built
// by the real pointer component.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

namespace fs = std::filesystem;

// CRC-32 in the updater's variant, bit by bit: reflected polynomial,
// initial value 0, no final complement.
std::uint32_t ReferenceCrc(std::string_view bytes) {
  std::uint32_t crc = 0;
  for (const char ch : bytes) {
    crc ^= static_cast<std::uint8_t>(ch);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

std::string Hex8(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(v));
  return buf;
}

// A path in the runner's folder with native separators, as the commands
// join their paths ("new/A.BIN" is "new\\A.BIN" on Windows).
std::string NativePath(const LevelRunner& runner, std::string_view relative) {
  return (runner.Dir().path() / fs::path(relative).make_preferred()).string();
}

// One update data record: position, token, length, payload.
std::string Rec(std::uint32_t position, char tok, const std::string& payload) {
  return Le32(position) + std::string(1, tok) + Le16(static_cast<std::uint16_t>(payload.size())) + payload;
}
std::string Del(std::uint32_t position, char tok, std::uint16_t length) {
  return Le32(position) + std::string(1, tok) + Le16(length);
}

// A program for opcode 5 that copies the checkpoint file away, so that the
// test sees the checkpoint the failed line left behind.
std::string SnapshotLine(LevelRunner& runner) {
  const std::string script = LevelHelper(runner.Dir().path(), "snap");
  return "#5" + script + "\t" + runner.CheckpointFile() + "\t1\n";
}

TEST(PatchLevel, ReferenceCrcMatchesTheCheckValue) { EXPECT_EQ(ReferenceCrc("123456789"), 0x2DFD2D88u); }

TEST(PatchLevel, FixUpdateWritesTheNewFile) {
  LevelRunner runner;
  WriteFile(NativePath(runner, "old/HELLO.TXT"), "HELLO WORLD");
  WriteFile(runner.Path("upd.bin"), Rec(0, 'U', "J") + Del(5, 'D', 6) + Rec(11, 'A', "!"));
  fs::create_directories(runner.Path("new"));
  const std::string old = NativePath(runner, "old/HELLO.TXT");
  const LevelResult r = runner.RunLevel("#4" + old + "\t" + Hex8(ReferenceCrc("JELLO!")) + "\t" +
                                        runner.Path("upd.bin") + "\t" + runner.Path("new") + "\n");
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Fix-Update (" + old + ")\r\n") << r.log;
  EXPECT_EQ(ReadFile(NativePath(runner, "new/HELLO.TXT")), "JELLO!");
  EXPECT_EQ(ReadFile(old), "HELLO WORLD");
  EXPECT_EQ(r.result, "1");
}

TEST(PatchLevel, FailedVerificationLeavesPhase2AndNamesBothValues) {
  LevelRunner runner;
  const std::string old = NativePath(runner, "old/A.BIN");
  WriteFile(old, "12345X789");
  WriteFile(runner.Path("upd.bin"), Rec(5, 'U', "6"));
  fs::create_directories(runner.Path("new"));
  const LevelResult r = runner.RunLevel("#4" + old + "\t2DFD2D89\t" + runner.Path("upd.bin") + "\t" +
                                        runner.Path("new") + "\n" + SnapshotLine(runner));
  const std::string expected = ErrorEntry("File check failed (CRC32)", 0, 16, 0,
                                          {{1, runner.ControlFile()},
                                           {2, "2DFD2D89"},
                                           {3, NativePath(runner, "new/A.BIN")},
                                           {4, "2DFD2D88"}}) +
                               "Failed - Fix-Update (" + old + ")\r\n";
  ASSERT_TRUE(LevelBody(r.log, 1).has_value()) << r.log;
  EXPECT_EQ(LevelBody(r.log, 1)->substr(0, expected.size()), expected);
  // Two lines, the second running, phase 2 (written, not verified), one item done.
  EXPECT_EQ(ReadFile(runner.Path("seen.bin")), CheckpointBytes(2, 1, 2, 1));
  EXPECT_EQ(ReadFile(old), "12345X789");
}

TEST(PatchLevel, FailedApplyLeavesPhase0) {
  LevelRunner runner;
  const std::string old = NativePath(runner, "old/A.BIN");
  WriteFile(old, "abc");
  WriteFile(runner.Path("upd.bin"), Rec(1, 'X', "zz"));
  const LevelResult r = runner.RunLevel("#4" + old + "\t0\t" + runner.Path("upd.bin") + "\t" + runner.Path("old") +
                                        "x\n" + SnapshotLine(runner));
  EXPECT_NE(r.log.find(ErrorEntry("Cannot open/create new file", 0, 12, 0, {{1, NativePath(runner, "oldx/A.BIN")}})),
            std::string::npos)
      << r.log;
  EXPECT_EQ(ReadFile(runner.Path("seen.bin")), CheckpointBytes(2, 1, 0, 1));
}

// A table of the message shape: u32 number, then a text.
class PatchTableLevel : public ::testing::Test {
 protected:
  PatchTableLevel() {
    StructureLayout layout = NumberTextLayout(0);
    layout.data_name = "TAB@.DAT";
    layout.index_name = "PTR@.IDX";
    WriteFile(structure, StructureBytes(layout));
    fs::create_directories(runner.Path("new"));
  }
  LevelRunner runner;
  std::string structure = runner.Path("T.STR");
  std::string r1 = Record(Le32(1) + Var8("one"));
  std::string r2 = Record(Le32(2) + Var8("two"));
  std::string r3 = Record(Le32(3) + Var8("three"));
};

TEST_F(PatchTableLevel, FdtUpdateBuildsTheIndexUnderTheVariableName) {
  const std::string old = NativePath(runner, "old/TAB0042.DAT");
  WriteFile(old, r1 + r2);
  // Replace record 2 by record 3's content, then add record 2 again.
  const std::string content3 = Le32(3) + Var8("three");
  const std::string content2 = Le32(2) + Var8("two");
  WriteFile(runner.Path("upd.bin"), Rec(static_cast<std::uint32_t>(r1.size()), 'U', content3) +
                                        Rec(static_cast<std::uint32_t>((r1 + r2).size()), 'A', content2));
  const std::string result = r1 + r3 + r2;
  const LevelResult r = runner.RunLevel("#0" + old + "\t" + Hex8(ReferenceCrc(result)) + "\t" +
                                        runner.Path("upd.bin") + "\t" + runner.Path("new") + "\t" + structure + "\n");
  EXPECT_EQ(LevelBody(r.log, 1), "OK - FDT-Update (" + old + ")\r\n") << r.log;
  EXPECT_EQ(ReadFile(NativePath(runner, "new/TAB0042.DAT")), result);
  // Sorted list index: key (the number), then the record's offset.
  const auto off3 = static_cast<std::uint32_t>(r1.size());
  const auto off2 = static_cast<std::uint32_t>((r1 + r3).size());
  EXPECT_EQ(ReadFile(NativePath(runner, "new/PTR0042.IDX")), ListIndex({{Le32(1), 0}, {Le32(2), off2}, {Le32(3), off3}}));
}

TEST_F(PatchTableLevel, StructureThatDoesNotLoadLeavesPhase3) {
  const std::string old = NativePath(runner, "old/TAB0042.DAT");
  WriteFile(old, r1);
  WriteFile(runner.Path("upd.bin"), "");
  const std::string missing = runner.Path("NONE.STR");
  const LevelResult r = runner.RunLevel("#0" + old + "\t" + Hex8(ReferenceCrc(r1)) + "\t" + runner.Path("upd.bin") +
                                        "\t" + runner.Path("new") + "\t" + missing + "\n" + SnapshotLine(runner));
  EXPECT_NE(r.log.find(ErrorEntry("FDT file not found", 0, 17, 0, {{1, missing}})), std::string::npos) << r.log;
  EXPECT_EQ(ReadFile(runner.Path("seen.bin")), CheckpointBytes(2, 1, 3, 1));
  EXPECT_EQ(ReadFile(NativePath(runner, "new/TAB0042.DAT")), r1);  // verified file stays
}

TEST_F(PatchTableLevel, InPlaceUpdateReplacesTheTableAndIndexesItBeside) {
  const std::string old = NativePath(runner, "data/TAB7.DAT");
  WriteFile(old, r1);
  WriteFile(runner.Path("upd.bin"), Rec(static_cast<std::uint32_t>(r1.size()), 'A', Le32(2) + Var8("two")));
  const LevelResult r = runner.RunLevel("#A" + old + "\t" + Hex8(ReferenceCrc(r1 + r2)) + "\t" +
                                        runner.Path("upd.bin") + "\t" + structure + "\n");
  EXPECT_EQ(LevelBody(r.log, 1), "OK - FDT-Update-InPlace (" + old + ")\r\n") << r.log;
  EXPECT_EQ(ReadFile(old), r1 + r2);
  EXPECT_FALSE(fs::exists(NativePath(runner, "data/TAB7.DU$")));
  EXPECT_EQ(ReadFile(NativePath(runner, "data/PTR7.IDX")),
            ListIndex({{Le32(1), 0}, {Le32(2), static_cast<std::uint32_t>(r1.size())}}));
}

TEST_F(PatchTableLevel, FixUpdateInPlaceThroughOpcodeB) {
  const std::string file = NativePath(runner, "data/PLAIN.TXT");
  WriteFile(file, "HELLO WORLD");
  WriteFile(runner.Path("upd.bin"), Rec(0, 'U', "J") + Del(5, 'D', 6) + Rec(11, 'A', "!"));
  const LevelResult r =
      runner.RunLevel("#B" + file + "\t" + Hex8(ReferenceCrc("JELLO!")) + "\t" + runner.Path("upd.bin") + "\n");
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Fix-Update (" + file + ")\r\n") << r.log;
  EXPECT_EQ(ReadFile(file), "JELLO!");
}

TEST_F(PatchTableLevel, CreatePointerFillsTheVariablePart) {
  WriteFile(NativePath(runner, "data/TAB0042.DAT"), r2 + r1);
  WriteFile(NativePath(runner, "data/PTR0099.IDX"), "left alone");
  const LevelResult r = runner.RunLevel("#6" + structure + "\t" + runner.Path("data") + "\t0042\n" +
                                        "#6" + structure + "\t" + runner.Path("data") + "\t0099\n");
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Creating pointer (" + structure + ")\r\nOK - Skipped creating pointer (" +
                                     structure + ")\r\n")
      << r.log;
  EXPECT_EQ(ReadFile(NativePath(runner, "data/PTR0042.IDX")),
            ListIndex({{Le32(1), static_cast<std::uint32_t>(r2.size())}, {Le32(2), 0}}));
  EXPECT_FALSE(fs::exists(NativePath(runner, "data/PTR0099.IDX")));  // its data file is gone
}

}  // namespace
}  // namespace veupd::test
