// Update FDB through the real updater: a level merges files into a database
// and edits it from a control list; the result passes "veupd-tool fdb
// check" and extracts back to the expected files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "integration/level_runner.h"
#include "tables/update_fdb_test_db.h"

namespace veupd::test {
namespace {

using fdb::Rec;

constexpr std::size_t kKey = 9;

std::string ToolProgram() {
  const std::filesystem::path out(VEUPD_OUT_DIR);
  std::error_code ec;
  if (std::filesystem::exists(out / "veupd-tool.exe", ec)) return (out / "veupd-tool.exe").string();
  return (out / "veupd-tool").string();
}

// Exit status of "veupd-tool fdb ARGS" (output to a file in dir).
int Tool(const TempDir& dir, const std::string& args) {
  std::string command = "\"" + ToolProgram() + "\" fdb " + args + " >\"" + (dir / "tool.txt") + "\" 2>&1";
  // cmd.exe drops the first and the last quote of the whole line.
  if (IsWindowsBuild()) command = "\"" + command + "\"";
  const int status = std::system(command.c_str());
  return status >= 256 ? (status >> 8) & 0xFF : status;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

class UpdateFdbLevelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir().path() / "DATA.FDB", fdb::FdbBytes(kKey, kOld));
    WriteFile(dir().path() / "DATA.FDX", fdb::FdxBytes(kKey, kOld));
  }
  const TempDir& dir() const { return runner_.Dir(); }
  std::string Db() const { return runner_.Path("DATA.FDB"); }
  std::vector<Rec> Records() const {
    const auto parsed = fdb::ReadDb(dir(), kKey);
    EXPECT_EQ(parsed.problem, "");
    return parsed.records;
  }
  // The tool agrees that the database is sound, and extracting it gives
  // back exactly the expected files.
  void ExpectToolRoundTrip(const std::vector<Rec>& expected) const {
    EXPECT_EQ(Tool(dir(), "check " + Quoted(Db())), 0) << ReadFile(dir().path() / "tool.txt");
    const std::filesystem::path out = dir().path() / "out";
    ASSERT_EQ(Tool(dir(), "extract " + Quoted(Db()) + " " + Quoted(out.string())), 0)
        << ReadFile(dir().path() / "tool.txt");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
      (void)entry;
      ++files;
    }
    EXPECT_EQ(files, expected.size());
    for (const Rec& r : expected) EXPECT_EQ(ReadFile(out / r.key), r.data) << r.key;
  }

  const std::vector<Rec> kOld{{"A0001.DAT", "one"}, {"A0002.DAT", "two"}, {"A0003.DAT", "three"}};
  LevelRunner runner_;
};

TEST_F(UpdateFdbLevelTest, MergeWithCrcCheck) {
  WriteFile(dir().path() / "upd" / "A0002.NEW", "TWO");
  WriteFile(dir().path() / "upd" / "A0000.DAT", "zero");
  const std::vector<Rec> expected{
      {"A0000.DAT", "zero"}, {"A0001.DAT", "one"}, {"A0002.NEW", "TWO"}, {"A0003.DAT", "three"}};
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", fdb::Crc(fdb::FdbBytes(kKey, expected)));
  const std::string mask = (dir().path() / "upd" / "*.*").string();
  const LevelResult r = runner_.RunLevel("#D" + Db() + "\t" + crc + "\t" + mask + "\n");
  EXPECT_EQ(LevelBody(r.log, 1), "OK - Updating FDB (" + Db() + ")\r\n") << r.log;
  EXPECT_EQ(r.result, "1");
  EXPECT_EQ(Records(), expected);
  ExpectToolRoundTrip(expected);
}

TEST_F(UpdateFdbLevelTest, ControlListWhoseSecondLineFails) {
  WriteFile(dir().path() / "upd" / "A0004.DAT", "four");
  const std::string missing = runner_.Path("NONE.FDB");
  const std::string list = runner_.Path("changes.txt");
  WriteFile(list, Db() + "\t0\t" + (dir().path() / "upd" / "A0004.DAT").string() + "\r\n" + missing +
                      "\tDELETE\tA0001.DAT\r\n" + Db() + "\tdelete\ta0002.dat\r\n");
  const LevelResult r = runner_.RunLevel("#D" + list + "\n");
  const std::string messages = "FDB " + missing + " not found!\nError during update " + missing +
                               " -> A0001.DAT!\nError during update using file " + list + "!\n";
  EXPECT_EQ(LevelBody(r.log, 1), ErrorEntry("FDB update failed", 0, 30, 0, {{1, list}}) +
                                     "Failed - Updating FDB using file (" + list + ")\r\n" + "Failed - " +
                                     messages + "\r\n")
      << r.log;
  EXPECT_EQ(r.result, "0");
  const std::vector<Rec> expected{{"A0001.DAT", "one"}, {"A0003.DAT", "three"}, {"A0004.DAT", "four"}};
  EXPECT_EQ(Records(), expected);
  ExpectToolRoundTrip(expected);
}

}  // namespace
}  // namespace veupd::test
