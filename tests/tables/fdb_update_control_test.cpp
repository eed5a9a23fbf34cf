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

using test::TempDir;
using test::fdb::Rec;

constexpr std::size_t kKey = 9;  // "A0001.DAT"

TEST(FdbUpdateControlTest, HexToNumber) {
  const struct {
    const char* name;
    std::string text;
    std::uint32_t value;
  } cases[] = {{"empty", "", 0}, {"zero", "0", 0}, {"mixed case", "1a2B", 0x1A2B},
               {"eight digits", "DEADBEEF", 0xDEADBEEF}, {"nine digits keep last eight", "123456789", 0x23456789},
               {"blank and tab skipped", " 12 3\t4", 0x1234}, {"other character ends", "12G34", 0x12},
               {"leading other gives zero", "x12", 0}, {"delete word is not hex", "DELETE", 0xDE}};
  for (const auto& c : cases) EXPECT_EQ(CFdbUpdateControl::HexToNumber(c.text), c.value) << c.name;
}

TEST(FdbUpdateControlTest, Trim) {
  const struct {
    const char* name;
    std::string text, trimmed;
  } cases[] = {{"bare", "a b", "a b"}, {"blanks", " \t a b \t", "a b"},
               {"quotes inside blanks", "  \"C:\\x y\"  ", "C:\\x y"},
               {"blanks inside quotes stay", "\" a \"", " a "}, {"several quotes", "\"\"a\"\"", "a"},
               {"only quotes", "\"\"", ""}};
  for (const auto& c : cases) EXPECT_EQ(CFdbUpdateControl::Trim(c.text), c.trimmed) << c.name;
}

// A database "<dir>/DATA.FDB" with three records and an update folder.
class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { test::fdb::WriteDb(dir_, kKey, kOld); }

  std::string Db() const { return dir_ / "DATA.FDB"; }
  std::string Upd(const std::string& name) const { return (dir_.path() / "upd" / name).string(); }
  void AddFile(const std::string& name, const std::string& data) const { test::WriteFile(Upd(name), data); }
  std::string WriteList(const std::string& name, const std::string& text) const {
    test::WriteFile(dir_.path() / name, text);
    return dir_ / name;
  }
  std::vector<Rec> Records() const {
    const auto parsed = test::fdb::ReadDb(dir_, kKey);
    EXPECT_EQ(parsed.problem, "");
    return parsed.records;
  }
  std::string UpperTmp() const {
    std::string path = Db();
    for (char& c : path) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return path.replace(path.size() - 4, 4, ".TMP");
  }

  const std::vector<Rec> kOld{{"A0001.DAT", "one"}, {"A0002.DAT", "two"}, {"A0003.DAT", "three"}};
  TempDir dir_;
  CFdbUpdateControl driver_;
};

TEST_F(DriverTest, MaskWithoutStarDotStarComparesWholeNames) {
  AddFile("A0002.NEW", "TWO");
  EXPECT_TRUE(driver_.UpdateEntry(Db(), "0", Upd("*.NEW"))) << driver_.GetMessages();
  EXPECT_EQ(Records(), (std::vector<Rec>{{"A0001.DAT", "one"}, {"A0002.DAT", "two"}, {"A0002.NEW", "TWO"},
                                         {"A0003.DAT", "three"}}));
}

TEST_F(DriverTest, DeleteListWithBlankLineDeletesTheOthersAndFails) {
  const std::string list = WriteList("del.txt", "A0001.DAT\r\n\r\na0003.dat\textra\r\n");
  EXPECT_FALSE(driver_.UpdateEntry(Db(), "LIST_DELETE", list));
  EXPECT_EQ(driver_.GetMessages(), "Key length error by file " + Db() + "!\nError during delete " + Db() +
                                       "!\nError during update " + Db() + " -> " + list + "!\n");
  EXPECT_EQ(Records(), (std::vector<Rec>{{"A0002.DAT", "two"}}));
}

TEST_F(DriverTest, ControlListSecondLineFailsThirdStillRuns) {
  AddFile("A0004.DAT", "four");
  const std::string missing = dir_ / "NONE.FDB";
  const std::string list = WriteList("ctl.txt", Db() + "\t0\t" + Upd("A0004.DAT") + "\n" + missing + "\tDELETE\tA0001.DAT\n" +
                                                    Db() + "\tDELETE\tA0002.DAT\n");
  EXPECT_FALSE(driver_.Run(list));
  EXPECT_EQ(driver_.GetMessages(), "FDB " + missing + " not found!\nError during update " + missing +
                                       " -> A0001.DAT!\nError during update using file " + list + "!\n");
  EXPECT_EQ(Records(), (std::vector<Rec>{{"A0001.DAT", "one"}, {"A0003.DAT", "three"}, {"A0004.DAT", "four"}}));
}

TEST_F(DriverTest, ControlListLineWithMissingFieldsFails) {
  const std::string list = WriteList("ctl.txt", Db() + "\n");
  const std::string old_fdb = test::ReadFile(Db());
  EXPECT_FALSE(driver_.Run(list));
  EXPECT_EQ(driver_.GetMessages(), "UpdateFile  not found!\nError during update " + Db() +
                                       " -> !\nError during update using file " + list + "!\n");
  EXPECT_EQ(test::ReadFile(Db()), old_fdb);
}

TEST_F(DriverTest, MaskMatchingOnlyDirectoriesFailsWithDatabaseUntouched) {
  std::filesystem::create_directories(dir_.path() / "upd" / "SUB00.DAT");
  const std::string old_fdb = test::ReadFile(Db());
  EXPECT_FALSE(driver_.UpdateEntry(Db(), "0", Upd("*.*")));
  EXPECT_EQ(driver_.GetMessages(), "UpdateFile " + Upd("*.*") + " not found!\nError during update " + Db() +
                                       " -> " + Upd("*.*") + "!\n");
  EXPECT_EQ(test::ReadFile(Db()), old_fdb);
}

// A run ended between replacing a database and its index leaves the index
// missing, empty or the old one; the next change rebuilds it from the
// database and goes through. A database that cannot be indexed keeps the
// error and its index file as it was.
TEST_F(DriverTest, IndexNotMatchingADatabaseIsRebuiltBeforeTheChange) {
  const std::vector<Rec> newer{{"A0001.DAT", "one"}, {"A0003.DAT", "three"}};
  const struct {
    const char* name;
    bool fdx_present;
    std::string fdx;
  } cases[] = {{"missing", false, ""},
               {"empty", true, ""},
               {"cut in an entry", true, test::fdb::FdxBytes(kKey, newer).substr(0, kKey + 6)},
               {"of the database before", true, test::fdb::FdxBytes(kKey, kOld)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(Db(), test::fdb::FdbBytes(kKey, newer));
    std::filesystem::remove(dir_.path() / "DATA.FDX");
    if (c.fdx_present) test::WriteFile(dir_.path() / "DATA.FDX", c.fdx);
    CFdbUpdateControl driver;
    EXPECT_TRUE(driver.UpdateEntry(Db(), "DELETE", "A0003.DAT")) << driver.GetMessages();
    EXPECT_EQ(Records(), (std::vector<Rec>{{"A0001.DAT", "one"}}));
    EXPECT_EQ(test::ReadFile(dir_.path() / "DATA.FDX"), test::fdb::FdxBytes(kKey, {{"A0001.DAT", "one"}}));
    AddFile("A0002.DAT", "TWO");
    EXPECT_TRUE(driver.UpdateEntry(Db(), "0", Upd("A*.DAT"))) << driver.GetMessages();
    std::filesystem::remove(Upd("A0002.DAT"));
  }
}

TEST_F(DriverTest, DamagedDatabaseKeepsTheIndexErrorAndTheIndexFile) {
  const std::string fdb = test::fdb::FdbBytes(kKey, kOld);
  const struct {
    const char* name;
    std::string fdb;
    bool fdx_present;
    std::string key;
    std::string message;  // of the first line, before the index path
  } cases[] = {{"cut, index missing", fdb.substr(0, fdb.size() - 1), false, "A0001.DAT", "Open error by file "},
               {"cut, index of the whole", fdb.substr(0, fdb.size() - 1), true, "A0001.DAT", "Index error by file "},
               {"empty, index missing", "", false, "A0001.DAT", "Open error by file "},
               {"key of another length", fdb, true, "A0001.DA", "Index error by file "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(Db(), c.fdb);
    std::filesystem::remove(dir_.path() / "DATA.FDX");
    if (c.fdx_present) test::WriteFile(dir_.path() / "DATA.FDX", test::fdb::FdxBytes(kKey, kOld));
    CFdbUpdateControl driver;
    EXPECT_FALSE(driver.UpdateEntry(Db(), "DELETE", c.key));
    std::string fdx = UpperTmp();
    fdx.replace(fdx.size() - 4, 4, ".FDX");
    EXPECT_EQ(driver.GetMessages(),
              c.message + fdx + "!\nError during update " + Db() + " -> " + c.key + "!\n");
    EXPECT_EQ(test::ReadFile(Db()), c.fdb);
    EXPECT_EQ(std::filesystem::exists(dir_.path() / "DATA.FDX"), c.fdx_present);
    if (c.fdx_present) {
      EXPECT_EQ(test::ReadFile(dir_.path() / "DATA.FDX"), test::fdb::FdxBytes(kKey, kOld));
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "DATA.FDX$X$"));
  }
}

}  // namespace
}  // namespace veupd
