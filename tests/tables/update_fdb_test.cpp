// CUpdateFDB: merges, deletes, the CRC check and refused damaged input, each
// checked against databases built by hand.
#include "tables/update_fdb.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tables/update_fdb_test_db.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::TempDir;
using test::fdb::FdbBytes;
using test::fdb::FdxBytes;
using test::fdb::Rec;
using Recs = std::vector<Rec>;

constexpr std::uint32_t kKey = 5;  // "A.DAT"

std::string NamesBlock(const std::vector<std::string>& names) {
  std::string block;
  for (const std::string& n : names) block += n + '\0';
  return block + '\0';
}

// Writes the update files into <dir>/upd and runs Open, Update, Finish(crc)
// and WriteIndex on <dir>/DATA.FDB; the names go in the given order.
bool Merge(CUpdateFDB& fdb, const TempDir& dir, const Recs& files, std::uint32_t crc = 0,
           std::uint32_t key_length = kKey) {
  std::vector<std::string> names;
  for (const Rec& f : files) {
    test::WriteFile(dir.path() / "upd" / f.key, f.data);
    names.push_back(f.key);
  }
  std::filesystem::create_directories(dir / "upd");
  return fdb.Open(dir / "DATA.FDB", key_length, 0) &&
         fdb.Update(NamesBlock(names), dir / "upd", static_cast<int>(names.size())) && fdb.Finish(crc) &&
         fdb.WriteIndex();
}

void ExpectDb(const TempDir& dir, std::size_t key_length, const Recs& expected, const std::string& name = "") {
  const test::fdb::Parsed result = test::fdb::ReadDb(dir, key_length);
  EXPECT_EQ(result.problem, "") << name;
  EXPECT_EQ(result.records, expected) << name;
}

TEST(UpdateFdbTest, MergesGiveTheExpectedRecordsAndAMatchingIndex) {
  const std::string big(150000, 'b'), bigger(200000, 'N');  // span several copy blocks
  const Recs bdf{{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "f"}};
  const struct {
    const char* name;
    Recs old_records, files /* ascending, as the driver hands them */, expected;
  } cases[] = {
      {"into empty", {}, {{"A.DAT", "a"}, {"B.DAT", "bb"}}, {{"A.DAT", "a"}, {"B.DAT", "bb"}}},
      {"insert before one", {{"C.DAT", "c"}}, {{"A.DAT", "a"}}, {{"A.DAT", "a"}, {"C.DAT", "c"}}},
      {"insert after one", {{"C.DAT", "c"}}, {{"E.DAT", "e"}}, {{"C.DAT", "c"}, {"E.DAT", "e"}}},
      {"replace one", {{"C.DAT", "old"}}, {{"C.DAT", "new!"}}, {{"C.DAT", "new!"}}},
      {"remove one by an empty file", {{"C.DAT", "c"}}, {{"C.DAT", ""}}, {}},
      {"empty file of a new key adds nothing", {{"C.DAT", "c"}}, {{"D.DAT", ""}}, {{"C.DAT", "c"}}},
      {"insert between", bdf, {{"C.DAT", "c"}, {"E.DAT", "e"}},
       {{"B.DAT", "b"}, {"C.DAT", "c"}, {"D.DAT", "d"}, {"E.DAT", "e"}, {"F.DAT", "f"}}},
      {"replace first, middle, last", bdf, {{"B.DAT", "B2"}, {"D.DAT", "D2"}, {"F.DAT", "F2"}},
       {{"B.DAT", "B2"}, {"D.DAT", "D2"}, {"F.DAT", "F2"}}},
      {"equal last key", bdf, {{"F.DAT", "F2"}}, {{"B.DAT", "b"}, {"D.DAT", "d"}, {"F.DAT", "F2"}}},
      {"equal last key, then greater", {{"B.DAT", "b"}, {"D.DAT", "d"}}, {{"D.DAT", "D2"}, {"E.DAT", "e"}, {"G.DAT", "g"}},
       {{"B.DAT", "b"}, {"D.DAT", "D2"}, {"E.DAT", "e"}, {"G.DAT", "g"}}},
      {"greater than all", {{"B.DAT", "b"}, {"D.DAT", "d"}}, {{"X.DAT", "x"}, {"Y.DAT", "y"}},
       {{"B.DAT", "b"}, {"D.DAT", "d"}, {"X.DAT", "x"}, {"Y.DAT", "y"}}},
      {"remove the middle among inserts", bdf, {{"C.DAT", "c"}, {"D.DAT", ""}, {"G.DAT", "g"}},
       {{"B.DAT", "b"}, {"C.DAT", "c"}, {"F.DAT", "f"}, {"G.DAT", "g"}}},
      {"remove the last by an empty file", {{"B.DAT", "b"}, {"D.DAT", "d"}}, {{"D.DAT", ""}}, {{"B.DAT", "b"}}},
      {"big records across blocks", {{"B.DAT", big}, {"D.DAT", "d"}, {"F.DAT", big}},
       {{"C.DAT", bigger}, {"F.DAT", bigger}}, {{"B.DAT", big}, {"C.DAT", bigger}, {"D.DAT", "d"}, {"F.DAT", bigger}}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    test::fdb::WriteDb(dir, kKey, c.old_records);
    CUpdateFDB fdb;
    ASSERT_TRUE(Merge(fdb, dir, c.files)) << c.name << ": " << fdb.ErrorText();
    ExpectDb(dir, kKey, c.expected, c.name);
    EXPECT_FALSE(std::filesystem::exists(dir / "DATA.TMP")) << c.name;
  }
  // Deletes leave out only their key.
  for (const auto& [key, expected] : std::vector<std::pair<std::string, Recs>>{
           {"B.DAT", {bdf[1], bdf[2]}}, {"D.DAT", {bdf[0], bdf[2]}}, {"F.DAT", {bdf[0], bdf[1]}},
           {"A.DAT", bdf}, {"C.DAT", bdf}, {"Z.DAT", bdf}}) {
    TempDir dir;
    test::fdb::WriteDb(dir, kKey, bdf);
    CUpdateFDB fdb;
    ASSERT_TRUE(fdb.Open(dir / "DATA.FDB", kKey, kKey + 4) && fdb.Delete(key) && fdb.Finish(0) && fdb.WriteIndex())
        << key << ": " << fdb.ErrorText();
    ExpectDb(dir, kKey, expected, key);
  }
}

// Left-out trailing bytes: a file replaces the record under its new name,
// unless that name would break the key order.
TEST(UpdateFdbTest, LeftOutTrailingBytesReplaceUnderTheNewName) {
  TempDir dir;
  test::fdb::WriteDb(dir, 9, {{"A0001.DAT", "one"}, {"A0002.DAT", "two"}});
  CUpdateFDB fdb;
  fdb.SetLeftOutBytes(4);
  ASSERT_TRUE(Merge(fdb, dir, {{"A0001.NEW", "ONE"}}, 0, 9)) << fdb.ErrorText();
  ExpectDb(dir, 9, {{"A0001.NEW", "ONE"}, {"A0002.DAT", "two"}});

  test::fdb::WriteDb(dir, 9, {{"A0001.DAT", "one"}, {"A0001.TXT", "txt"}});
  CUpdateFDB refused;
  refused.SetLeftOutBytes(4);
  EXPECT_FALSE(Merge(refused, dir, {{"A0001.ZZZ", "ZZZ"}}, 0, 9));
  EXPECT_EQ(refused.LastError(), CUpdateFDB::kNamesUnsorted);
  EXPECT_EQ(refused.ErrorText(), "Sort error by file " + (dir / "DATA.FDB") + "!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), FdbBytes(9, {{"A0001.DAT", "one"}, {"A0001.TXT", "txt"}}));
}

// ---- refused input and failed steps leave the old database and index

std::string Cut(std::string s, std::size_t n) { return s.substr(0, s.size() - n); }
std::string Poke(std::string s, std::size_t at, char c) { return s.replace(at, 1, 1, c); }

TEST(UpdateFdbTest, DamagedInputIsRefusedAndChangesNothing) {
  const Recs two{{"B.DAT", "bbbb"}, {"D.DAT", "dd"}};
  const std::string fdb = FdbBytes(kKey, two), fdx = FdxBytes(kKey, two);
  constexpr std::size_t kEntry = kKey + 4;
  const Recs descending{{"D.DAT", "d"}, {"B.DAT", "b"}};
  const struct {
    const char* name;
    std::string fdb, fdx;
    std::uint32_t key_length, error;
  } cases[] = {
      {"index offset off by one", fdb, Poke(fdx, 2 * kEntry + kKey, static_cast<char>(fdx[2 * kEntry + kKey] + 1)), kKey, 10},
      {"index key not the record key", fdb, Poke(fdx, 2 * kEntry, 'E'), kKey, 10},
      {"index keys descending", FdbBytes(kKey, descending), FdxBytes(kKey, descending), kKey, 10},
      {"index misses the last record", fdb, Cut(fdx, kEntry), kKey, 10},
      {"index length not whole entries", fdb, Cut(fdx, 1), kKey, 10},
      {"index only header, records present", fdb, FdxBytes(kKey, {}), kKey, 10},
      {"database cut in the last record", Cut(fdb, 1), fdx, kKey, 10},
      {"database shorter than the index says", Cut(fdb, 8), fdx, kKey, 10},
      {"record length too large", Poke(fdb, kEntry, static_cast<char>(fdb[kEntry] + 1)), fdx, kKey, 10},
      {"header record of another key length", FdbBytes(6, {}), FdxBytes(6, {}), kKey, 10},
      {"key length above 260", fdb, fdx, 261, 11},
      {"key length zero", fdb, fdx, 0, 11},
  };
  for (const auto& c : cases) {
    TempDir dir;
    test::WriteFile(dir / "DATA.FDB", c.fdb);
    test::WriteFile(dir / "DATA.FDX", c.fdx);
    test::WriteFile(dir.path() / "upd" / "C.DAT", "c");
    CUpdateFDB update;
    EXPECT_FALSE(update.Open(dir / "DATA.FDB", c.key_length, 0) &&
                 update.Update(NamesBlock({"C.DAT"}), dir / "upd", 1) && update.Finish(0))
        << c.name;
    EXPECT_EQ(update.LastError(), c.error) << c.name << ": " << update.ErrorText();
    EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), c.fdb) << c.name;
    EXPECT_EQ(test::ReadFile(dir / "DATA.FDX"), c.fdx) << c.name;
  }

  TempDir dir;
  test::fdb::WriteDb(dir, kKey, two);
  for (const auto& [name, data] : {std::pair<const char*, const char*>{"C.DAT", "c"}, {"A.DAT", "a"}, {"A.D", "a"}}) {
    test::WriteFile(dir.path() / "upd" / name, data);
  }
  CUpdateFDB update;
  const struct {
    std::vector<std::string> names;
    std::uint32_t error;
  } refused[] = {{{"C.DAT", "A.DAT"}, CUpdateFDB::kNamesUnsorted},
                 {{"C.DAT", "C.DAT"}, CUpdateFDB::kNamesUnsorted},  // two names of one key
                 {{"A.D"}, CUpdateFDB::kBadKeyLength}};
  for (const auto& r : refused) {
    ASSERT_TRUE(update.Open(dir / "DATA.FDB", kKey, 0));
    EXPECT_FALSE(update.Update(NamesBlock(r.names), dir / "upd", static_cast<int>(r.names.size())));
    EXPECT_EQ(update.LastError(), r.error) << r.names[0];
  }
  ASSERT_TRUE(update.Open(dir / "DATA.FDB", kKey, 0));
  EXPECT_FALSE(update.Update(NamesBlock({"A.DAT"}), dir / "none", 1));
  EXPECT_EQ(update.LastError(), CUpdateFDB::kUpdateFileNotOpened);
  EXPECT_EQ(update.ErrorText(), "Open error by file " + (dir / "none") + os::kNativeSeparator + "A.DAT!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), fdb);

  test::WriteFile(dir / "DATA.DB", fdb);
  EXPECT_FALSE(update.Open(dir / "DATA.DB", kKey, 0));
  EXPECT_EQ(update.LastError(), CUpdateFDB::kBadDatabaseName);
}

TEST(UpdateFdbTest, CrcMismatchLeavesTheOldDatabaseAndRemovesTheTmp) {
  TempDir dir;
  test::fdb::WriteDb(dir, kKey, {{"B.DAT", "b"}});
  const std::uint32_t right = test::fdb::Crc(FdbBytes(kKey, {{"A.DAT", "a"}, {"B.DAT", "b"}}));
  CUpdateFDB fdb;
  EXPECT_FALSE(Merge(fdb, dir, {{"A.DAT", "a"}}, right ^ 1u));
  EXPECT_EQ(fdb.LastError(), CUpdateFDB::kCrcMismatch);
  // The companions are named from the upper-cased path (found again on
  // POSIX through the case-insensitive lookup).
  std::string tmp = dir / "DATA.TMP";
  for (char& c : tmp) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  EXPECT_EQ(fdb.ErrorText(), "CRC error by file " + tmp + "!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), FdbBytes(kKey, {{"B.DAT", "b"}}));
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDX"), FdxBytes(kKey, {{"B.DAT", "b"}}));
  EXPECT_FALSE(std::filesystem::exists(dir / "DATA.TMP"));
}

}  // namespace
}  // namespace veupd
