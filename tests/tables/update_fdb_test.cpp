// CUpdateFDB: merges, deletes, the CRC check and refused damaged input, each
// checked against databases built by hand.
#include "tables/update_fdb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tables/update_fdb_test_db.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::TempDir;
using test::fdb::Rec;

constexpr std::uint32_t kKey = 5;  // "A.DAT"

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return text;
}

// The upper-cased path with ".FDB" replaced, as the updater names the
// companions (found again on POSIX through the case-insensitive lookup).
std::string Companion(const TempDir& dir, const std::string& ext) {
  std::string path = Upper(dir / "DATA.FDB");
  return path.replace(path.size() - 4, 4, ext);
}

std::string NamesBlock(const std::vector<std::string>& names) {
  std::string block;
  for (const std::string& n : names) block += n + '\0';
  return block + '\0';
}

// Writes the update files into <dir>/upd and runs Open, Update, Finish(crc)
// and WriteIndex on <dir>/DATA.FDB; the names go in the given order.
bool Merge(CUpdateFDB& fdb, const TempDir& dir, const std::vector<Rec>& files, std::uint32_t crc = 0,
           std::uint32_t key_length = kKey) {
  std::vector<std::string> names;
  for (const Rec& f : files) {
    test::WriteFile(std::filesystem::path(dir / "upd") / f.key, f.data);
    names.push_back(f.key);
  }
  std::filesystem::create_directories(dir / "upd");
  return fdb.Open(dir / "DATA.FDB", key_length, 0) &&
         fdb.Update(NamesBlock(names), dir / "upd", static_cast<int>(names.size())) && fdb.Finish(crc) &&
         fdb.WriteIndex();
}

struct MergeCase {
  const char* name;
  std::vector<Rec> old_records;
  std::vector<Rec> files;  // in ascending order, as the driver hands them
  std::vector<Rec> expected;
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

const std::string kBig(150000, 'b');  // spans several copy blocks
const std::string kBigger(200000, 'N');

class MergeTest : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeTest, GivesExpectedRecordsAndMatchingIndex) {
  const MergeCase& c = GetParam();
  TempDir dir;
  test::fdb::WriteDb(dir, kKey, c.old_records);
  CUpdateFDB fdb;
  ASSERT_TRUE(Merge(fdb, dir, c.files)) << fdb.ErrorText();
  const test::fdb::Parsed result = test::fdb::ReadDb(dir, kKey);
  EXPECT_EQ(result.problem, "");
  EXPECT_EQ(result.records, c.expected);
  EXPECT_FALSE(std::filesystem::exists(dir / "DATA.TMP"));
}

INSTANTIATE_TEST_SUITE_P(
    Merges, MergeTest,
    ::testing::Values(
        MergeCase{"IntoEmpty", {}, {{"A.DAT", "a"}, {"B.DAT", "bb"}}, {{"A.DAT", "a"}, {"B.DAT", "bb"}}},
        MergeCase{"InsertBeforeOne", {{"C.DAT", "c"}}, {{"A.DAT", "a"}}, {{"A.DAT", "a"}, {"C.DAT", "c"}}},
        MergeCase{"InsertAfterOne", {{"C.DAT", "c"}}, {{"E.DAT", "e"}}, {{"C.DAT", "c"}, {"E.DAT", "e"}}},
        MergeCase{"ReplaceOne", {{"C.DAT", "old"}}, {{"C.DAT", "new!"}}, {{"C.DAT", "new!"}}},
        MergeCase{"RemoveOneByEmptyFile", {{"C.DAT", "c"}}, {{"C.DAT", ""}}, {}},
        MergeCase{"EmptyFileOfNewKeyAddsNothing", {{"C.DAT", "c"}}, {{"D.DAT", ""}}, {{"C.DAT", "c"}}},
        MergeCase{"InsertBetween",
                  {{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "f"}},
                  {{"C.DAT", "c"}, {"E.DAT", "e"}},
                  {{"B.DAT", "b"}, {"C.DAT", "c"}, {"D.DAT", "d"}, {"E.DAT", "e"}, {"F.DAT", "f"}}},
        MergeCase{"ReplaceFirstMiddleLast",
                  {{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "f"}},
                  {{"B.DAT", "B2"}, {"D.DAT", "D2"}, {"F.DAT", "F2"}},
                  {{"B.DAT", "B2"}, {"D.DAT", "D2"}, {"F.DAT", "F2"}}},
        MergeCase{"EqualLastKey",
                  {{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "f"}},
                  {{"F.DAT", "F2"}},
                  {{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "F2"}}},
        MergeCase{"EqualLastKeyThenGreater",
                  {{"B.DAT", "b"}, {"D.DAT", "d"}},
                  {{"D.DAT", "D2"}, {"E.DAT", "e"}, {"G.DAT", "g"}},
                  {{"B.DAT", "b"}, {"D.DAT", "D2"}, {"E.DAT", "e"}, {"G.DAT", "g"}}},
        MergeCase{"GreaterThanAll",
                  {{"B.DAT", "b"}, {"D.DAT", "d"}},
                  {{"X.DAT", "x"}, {"Y.DAT", "y"}},
                  {{"B.DAT", "b"}, {"D.DAT", "d"}, {"X.DAT", "x"}, {"Y.DAT", "y"}}},
        MergeCase{"RemoveMiddleAmongInserts",
                  {{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "f"}},
                  {{"C.DAT", "c"}, {"D.DAT", ""}, {"G.DAT", "g"}},
                  {{"B.DAT", "b"}, {"C.DAT", "c"}, {"F.DAT", "f"}, {"G.DAT", "g"}}},
        MergeCase{"RemoveLastByEmptyFile",
                  {{"B.DAT", "b"}, {"D.DAT", "d"}},
                  {{"D.DAT", ""}},
                  {{"B.DAT", "b"}}},
        MergeCase{"BigRecordsAcrossBlocks",
                  {{"B.DAT", kBig}, {"D.DAT", "d"}, {"F.DAT", kBig}},
                  {{"C.DAT", kBigger}, {"F.DAT", kBigger}},
                  {{"B.DAT", kBig}, {"C.DAT", kBigger}, {"D.DAT", "d"}, {"F.DAT", kBigger}}}),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

TEST(UpdateFdbTest, LeftOutTrailingBytesReplaceUnderTheNewName) {
  TempDir dir;
  test::fdb::WriteDb(dir, 9, {{"A0001.DAT", "one"}, {"A0002.DAT", "two"}});
  CUpdateFDB fdb;
  fdb.SetLeftOutBytes(4);
  ASSERT_TRUE(Merge(fdb, dir, {{"A0001.NEW", "ONE"}}, 0, 9)) << fdb.ErrorText();
  const auto result = test::fdb::ReadDb(dir, 9);
  EXPECT_EQ(result.problem, "");
  EXPECT_EQ(result.records, (std::vector<Rec>{{"A0001.NEW", "ONE"}, {"A0002.DAT", "two"}}));
}

TEST(UpdateFdbTest, LeftOutReplacementThatWouldBreakKeyOrderIsRefused) {
  // "A0001.ZZZ" matches "A0001.DAT" but would land after "A0001.TXT".
  TempDir dir;
  test::fdb::WriteDb(dir, 9, {{"A0001.DAT", "one"}, {"A0001.TXT", "txt"}});
  const std::string old_fdb = test::ReadFile(dir / "DATA.FDB");
  CUpdateFDB fdb;
  fdb.SetLeftOutBytes(4);
  EXPECT_FALSE(Merge(fdb, dir, {{"A0001.ZZZ", "ZZZ"}}, 0, 9));
  EXPECT_EQ(fdb.LastError(), CUpdateFDB::kNamesUnsorted);
  EXPECT_EQ(fdb.ErrorText(), "Sort error by file " + (dir / "DATA.FDB") + "!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), old_fdb);
}

TEST(UpdateFdbTest, TwoNamesOfOneKeyAreRefused) {
  TempDir dir;
  test::fdb::WriteDb(dir, kKey, {{"B.DAT", "b"}});
  CUpdateFDB fdb;
  EXPECT_FALSE(Merge(fdb, dir, {{"C.DAT", "c"}, {"C.DAT", "c"}}));
  EXPECT_EQ(fdb.LastError(), CUpdateFDB::kNamesUnsorted);
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), test::fdb::FdbBytes(kKey, {{"B.DAT", "b"}}));
}

struct DeleteCase {
  const char* name;
  std::string key;
  std::vector<Rec> expected;
};

void PrintTo(const DeleteCase& c, std::ostream* os) { *os << c.name; }

class DeleteTest : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(DeleteTest, LeavesOutOnlyThatKey) {
  TempDir dir;
  test::fdb::WriteDb(dir, kKey, {{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "f"}});
  CUpdateFDB fdb;
  ASSERT_TRUE(fdb.Open(dir / "DATA.FDB", kKey, kKey + 4) && fdb.Delete(GetParam().key) && fdb.Finish(0) &&
              fdb.WriteIndex())
      << fdb.ErrorText();
  const auto result = test::fdb::ReadDb(dir, kKey);
  EXPECT_EQ(result.problem, "");
  EXPECT_EQ(result.records, GetParam().expected);
}

const std::vector<Rec> kAllThree{{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "f"}};

INSTANTIATE_TEST_SUITE_P(
    Deletes, DeleteTest,
    ::testing::Values(DeleteCase{"First", "B.DAT", {{"D.DAT", "d"}, {"F.DAT", "f"}}},
                      DeleteCase{"Middle", "D.DAT", {{"B.DAT", "b"}, {"F.DAT", "f"}}},
                      DeleteCase{"Last", "F.DAT", {{"B.DAT", "b"}, {"D.DAT", "d"}}},
                      DeleteCase{"MissingBeforeAll", "A.DAT", kAllThree},
                      DeleteCase{"MissingBetween", "C.DAT", kAllThree},
                      DeleteCase{"MissingAfterAll", "Z.DAT", kAllThree}),
    [](const ::testing::TestParamInfo<DeleteCase>& info) { return std::string(info.param.name); });

TEST(UpdateFdbTest, CrcMismatchLeavesOldDatabaseAndRemovesTmp) {
  TempDir dir;
  test::fdb::WriteDb(dir, kKey, {{"B.DAT", "b"}});
  const std::string old_fdb = test::ReadFile(dir / "DATA.FDB");
  const std::string old_fdx = test::ReadFile(dir / "DATA.FDX");
  const std::uint32_t right = test::fdb::Crc(test::fdb::FdbBytes(kKey, {{"A.DAT", "a"}, {"B.DAT", "b"}}));
  CUpdateFDB fdb;
  EXPECT_FALSE(Merge(fdb, dir, {{"A.DAT", "a"}}, right ^ 1u));
  EXPECT_EQ(fdb.LastError(), CUpdateFDB::kCrcMismatch);
  EXPECT_EQ(fdb.ErrorText(), "CRC error by file " + Companion(dir, ".TMP") + "!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), old_fdb);
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDX"), old_fdx);
  EXPECT_FALSE(std::filesystem::exists(dir / "DATA.TMP"));
}

// ---- failures of the update's own steps, with their codes and texts

TEST(UpdateFdbTest, MissingUpdateFileFailsWithCode3AndKeepsDatabase) {
  TempDir dir;
  test::fdb::WriteDb(dir, kKey, {{"B.DAT", "b"}});
  const std::string old_fdb = test::ReadFile(dir / "DATA.FDB");
  CUpdateFDB fdb;
  ASSERT_TRUE(fdb.Open(dir / "DATA.FDB", kKey, 0));
  EXPECT_FALSE(fdb.Update(NamesBlock({"A.DAT"}), dir / "none", 1));
  EXPECT_EQ(fdb.LastError(), 3u);
  EXPECT_EQ(fdb.ErrorText(), "Open error by file " + (dir / "none") + os::kNativeSeparator + "A.DAT!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), old_fdb);
}

// ---- damaged input: refused with the old database and index untouched

struct DamageCase {
  const char* name;
  std::string fdb;
  std::string fdx;
  std::uint32_t key_length;
  std::uint32_t error;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

std::string Cut(std::string s, std::size_t n) { return s.substr(0, s.size() - n); }

std::string Poke(std::string s, std::size_t at, char c) {
  s[at] = c;
  return s;
}

const std::vector<Rec> kTwo{{"B.DAT", "bbbb"}, {"D.DAT", "dd"}};
const std::string kTwoFdb = test::fdb::FdbBytes(kKey, kTwo);
const std::string kTwoFdx = test::fdb::FdxBytes(kKey, kTwo);
constexpr std::size_t kEntry = kKey + 4;

class DamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamageTest, IsRefusedAndChangesNothing) {
  const DamageCase& c = GetParam();
  TempDir dir;
  test::WriteFile(dir / "DATA.FDB", c.fdb);
  test::WriteFile(dir / "DATA.FDX", c.fdx);
  test::WriteFile(dir.path() / "upd" / "C.DAT", "c");
  CUpdateFDB fdb;
  const bool ok = fdb.Open(dir / "DATA.FDB", c.key_length, 0) &&
                  fdb.Update(NamesBlock({"C.DAT"}), dir / "upd", 1) && fdb.Finish(0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(fdb.LastError(), c.error) << fdb.ErrorText();
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), c.fdb);
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDX"), c.fdx);
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, DamageTest,
    ::testing::Values(
        DamageCase{"IndexOffsetOffByOne", kTwoFdb, Poke(kTwoFdx, 2 * kEntry + kKey, static_cast<char>(kTwoFdx[2 * kEntry + kKey] + 1)), kKey, 10},
        DamageCase{"IndexKeyNotTheRecordKey", kTwoFdb, Poke(kTwoFdx, 2 * kEntry, 'E'), kKey, 10},
        DamageCase{"IndexKeysDescending", test::fdb::FdbBytes(kKey, {{"D.DAT", "d"}, {"B.DAT", "b"}}),
                   test::fdb::FdxBytes(kKey, {{"D.DAT", "d"}, {"B.DAT", "b"}}), kKey, 10},
        DamageCase{"IndexMissesLastRecord", kTwoFdb, Cut(kTwoFdx, kEntry), kKey, 10},
        DamageCase{"IndexLengthNotWholeEntries", kTwoFdb, Cut(kTwoFdx, 1), kKey, 10},
        DamageCase{"IndexOnlyHeaderButRecordsPresent", kTwoFdb, test::fdb::FdxBytes(kKey, {}), kKey, 10},
        DamageCase{"DatabaseCutInLastRecord", Cut(kTwoFdb, 1), kTwoFdx, kKey, 10},
        DamageCase{"DatabaseShorterThanIndexSays", Cut(kTwoFdb, 8), kTwoFdx, kKey, 10},
        DamageCase{"RecordLengthTooLarge", Poke(kTwoFdb, kEntry, static_cast<char>(kTwoFdb[kEntry] + 1)), kTwoFdx, kKey, 10},
        DamageCase{"HeaderRecordOfOtherKeyLength", test::fdb::FdbBytes(6, {}), test::fdb::FdxBytes(6, {}), kKey, 10},
        DamageCase{"KeyLengthAbove260", kTwoFdb, kTwoFdx, 261, 11},
        DamageCase{"KeyLengthZero", kTwoFdb, kTwoFdx, 0, 11}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

TEST(UpdateFdbTest, NamesOutOfOrderOrShorterThanTheKeyAreRefused) {
  TempDir dir;
  test::fdb::WriteDb(dir, kKey, kTwo);
  test::WriteFile(dir.path() / "upd" / "C.DAT", "c");
  test::WriteFile(dir.path() / "upd" / "A.DAT", "a");
  test::WriteFile(dir.path() / "upd" / "A.D", "a");
  CUpdateFDB fdb;
  ASSERT_TRUE(fdb.Open(dir / "DATA.FDB", kKey, 0));
  EXPECT_FALSE(fdb.Update(NamesBlock({"C.DAT", "A.DAT"}), dir / "upd", 2));
  EXPECT_EQ(fdb.LastError(), CUpdateFDB::kNamesUnsorted);
  ASSERT_TRUE(fdb.Open(dir / "DATA.FDB", kKey, 0));
  EXPECT_FALSE(fdb.Update(NamesBlock({"A.D"}), dir / "upd", 1));
  EXPECT_EQ(fdb.LastError(), CUpdateFDB::kBadKeyLength);
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), kTwoFdb);
}

TEST(UpdateFdbTest, PathWithoutFdbExtensionIsRefused) {
  TempDir dir;
  test::WriteFile(dir / "DATA.DB", kTwoFdb);
  CUpdateFDB fdb;
  EXPECT_FALSE(fdb.Open(dir / "DATA.DB", kKey, 0));
  EXPECT_EQ(fdb.LastError(), CUpdateFDB::kBadDatabaseName);
  EXPECT_EQ(test::ReadFile(dir / "DATA.DB"), kTwoFdb);
}

}  // namespace
}  // namespace veupd
