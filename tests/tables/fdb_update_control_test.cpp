// CFdbUpdateControl: hex numbers, trimming, name order, the three modes, the
// control list that goes on after a failure, and the exact messages.
#include "tables/fdb_update_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tables/update_fdb_test_db.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::fdb::FdbBytes;
using test::fdb::FdxBytes;
using test::fdb::Rec;
using Recs = std::vector<Rec>;

constexpr std::size_t kKey = 9;  // "A0001.DAT"

TEST(FdbUpdateControlTest, HexToNumberAndTrim) {
  const std::pair<std::string, std::uint32_t> hex[] = {
      {"", 0}, {"0", 0}, {"1a2B", 0x1A2B}, {"DEADBEEF", 0xDEADBEEF}, {"123456789", 0x23456789} /* last eight */,
      {" 12 3\t4", 0x1234} /* blanks skipped */, {"12G34", 0x12}, {"x12", 0}, {"DELETE", 0xDE}};
  for (const auto& [text, value] : hex) EXPECT_EQ(CFdbUpdateControl::HexToNumber(text), value) << text;
  const std::pair<std::string, std::string> trim[] = {{"a b", "a b"}, {" \t a b \t", "a b"},
                                                       {"  \"C:\\x y\"  ", "C:\\x y"}, {"\" a \"", " a "},
                                                       {"\"\"a\"\"", "a"}, {"\"\"", ""}};
  for (const auto& [text, trimmed] : trim) EXPECT_EQ(CFdbUpdateControl::Trim(text), trimmed) << text;
}

// A database "<dir>/DATA.FDB" with three records and an update folder.
class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { test::fdb::WriteDb(dir_, kKey, kOld); }

  std::string Upd(const std::string& name) const { return (dir_.path() / "upd" / name).string(); }
  std::string WriteList(const std::string& name, const std::string& text) const {
    test::WriteFile(dir_.path() / name, text);
    return dir_ / name;
  }
  Recs Records() const {
    const auto parsed = test::fdb::ReadDb(dir_, kKey);
    EXPECT_EQ(parsed.problem, "");
    return parsed.records;
  }
  std::string Fails(const std::string& argument) const { return "!\nError during update " + db_ + " -> " + argument + "!\n"; }

  const Recs kOld{{"A0001.DAT", "one"}, {"A0002.DAT", "two"}, {"A0003.DAT", "three"}};
  test::TempDir dir_;
  const std::string db_ = dir_ / "DATA.FDB";
  CFdbUpdateControl driver_;
};

TEST_F(DriverTest, MasksListsAndTheirFailures) {
  // A mask without "*.*" compares whole names.
  test::WriteFile(Upd("A0002.NEW"), "TWO");
  EXPECT_TRUE(driver_.UpdateEntry(db_, "0", Upd("*.NEW"))) << driver_.GetMessages();
  EXPECT_EQ(Records(), (Recs{kOld[0], kOld[1], {"A0002.NEW", "TWO"}, kOld[2]}));
  // A mask matching only folders changes nothing.
  std::filesystem::remove(Upd("A0002.NEW"));
  std::filesystem::create_directories(dir_.path() / "upd" / "SUB00.DAT");
  const std::string before = test::ReadFile(db_);
  EXPECT_FALSE(driver_.UpdateEntry(db_, "0", Upd("*.*")));
  EXPECT_EQ(driver_.GetMessages(), "UpdateFile " + Upd("*.*") + " not found" + Fails(Upd("*.*")));
  EXPECT_EQ(test::ReadFile(db_), before);
  // A delete list with a blank line deletes the others and fails.
  test::fdb::WriteDb(dir_, kKey, kOld);
  const std::string list = WriteList("del.txt", "A0001.DAT\r\n\r\na0003.dat\textra\r\n");
  CFdbUpdateControl driver;
  EXPECT_FALSE(driver.UpdateEntry(db_, "LIST_DELETE", list));
  EXPECT_EQ(driver.GetMessages(), "Key length error by file " + db_ + "!\nError during delete " + db_ + Fails(list));
  EXPECT_EQ(Records(), (Recs{kOld[1]}));
}

TEST_F(DriverTest, ControlListGoesOnAfterAFailedLine) {
  test::WriteFile(Upd("A0004.DAT"), "four");
  const std::string missing = dir_ / "NONE.FDB";
  const std::string list = WriteList("ctl.txt", db_ + "\t0\t" + Upd("A0004.DAT") + "\n" + missing +
                                                    "\tDELETE\tA0001.DAT\n" + db_ + "\tDELETE\tA0002.DAT\n");
  EXPECT_FALSE(driver_.Run(list));
  EXPECT_EQ(driver_.GetMessages(), "FDB " + missing + " not found!\nError during update " + missing +
                                       " -> A0001.DAT!\nError during update using file " + list + "!\n");
  EXPECT_EQ(Records(), (Recs{kOld[0], kOld[2], {"A0004.DAT", "four"}}));
  // A line with missing fields fails.
  const std::string before = test::ReadFile(db_);
  const std::string short_list = WriteList("ctl2.txt", db_ + "\n");
  CFdbUpdateControl driver;
  EXPECT_FALSE(driver.Run(short_list));
  EXPECT_EQ(driver.GetMessages(), "UpdateFile  not found" + Fails("") + "Error during update using file " + short_list + "!\n");
  EXPECT_EQ(test::ReadFile(db_), before);
}

// A run ended between replacing a database and its index leaves the index
// missing, empty or the old one; the next change rebuilds it from the
// database and goes through. A database that cannot be indexed keeps the
// error and its index file as it was.
TEST_F(DriverTest, IndexNotMatchingTheDatabaseIsRebuiltOrKept) {
  const Recs newer{kOld[0], kOld[2]};
  const struct {
    const char* name;
    bool fdx_present;
    std::string fdx;
  } stale[] = {{"missing", false, ""},
               {"empty", true, ""},
               {"cut in an entry", true, FdxBytes(kKey, newer).substr(0, kKey + 6)},
               {"of the database before", true, FdxBytes(kKey, kOld)}};
  for (const auto& c : stale) {
    SCOPED_TRACE(c.name);
    test::WriteFile(db_, FdbBytes(kKey, newer));
    std::filesystem::remove(dir_.path() / "DATA.FDX");
    if (c.fdx_present) test::WriteFile(dir_.path() / "DATA.FDX", c.fdx);
    CFdbUpdateControl driver;
    EXPECT_TRUE(driver.UpdateEntry(db_, "DELETE", "A0003.DAT")) << driver.GetMessages();
    EXPECT_EQ(Records(), (Recs{kOld[0]}));
    test::WriteFile(Upd("A0002.DAT"), "TWO");
    EXPECT_TRUE(driver.UpdateEntry(db_, "0", Upd("A*.DAT"))) << driver.GetMessages();
    std::filesystem::remove(Upd("A0002.DAT"));
  }

  const std::string fdb = FdbBytes(kKey, kOld);
  const struct {
    const char* name;
    std::string fdb;
    bool fdx_present;
    std::string key;
    std::string message;  // of the first line, before the index path
  } damaged[] = {{"cut, index missing", fdb.substr(0, fdb.size() - 1), false, "A0001.DAT", "Open error by file "},
                 {"cut, index of the whole", fdb.substr(0, fdb.size() - 1), true, "A0001.DAT", "Index error by file "},
                 {"empty, index missing", "", false, "A0001.DAT", "Open error by file "},
                 {"key of another length", fdb, true, "A0001.DA", "Index error by file "}};
  // The index path as the updater names it: upper-cased.
  std::string fdx = dir_ / "DATA.FDX";
  for (char& c : fdx) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  for (const auto& c : damaged) {
    SCOPED_TRACE(c.name);
    test::WriteFile(db_, c.fdb);
    std::filesystem::remove(dir_.path() / "DATA.FDX");
    if (c.fdx_present) test::WriteFile(dir_.path() / "DATA.FDX", FdxBytes(kKey, kOld));
    CFdbUpdateControl driver;
    EXPECT_FALSE(driver.UpdateEntry(db_, "DELETE", c.key));
    EXPECT_EQ(driver.GetMessages(), c.message + fdx + Fails(c.key));
    EXPECT_EQ(test::ReadFile(db_), c.fdb);
    EXPECT_EQ(std::filesystem::exists(dir_.path() / "DATA.FDX"), c.fdx_present);
    EXPECT_EQ(c.fdx_present ? test::ReadFile(dir_.path() / "DATA.FDX") : "", c.fdx_present ? FdxBytes(kKey, kOld) : "");
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "DATA.FDX$X$"));
  }
}

}  // namespace
}  // namespace veupd
