// FDB databases: CUpdateFDB's merges, deletes, CRC check and refused damaged input; CFdbUpdateControl's modes,
// control lists and exact messages; both under failing file primitives. Checked against databases built by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "fault_support.h"
#include "platform/platform.h"
#include "tables/fdb_update_control.h"
#include "tables/update_fdb.h"
#include "tables/update_fdb_test_db.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::TempDir;
using namespace test::fdb;  // NOLINT: the database builders
using Recs = std::vector<Rec>;

constexpr std::uint32_t kKey5 = 5;  // "A.DAT"
constexpr std::size_t kKey = 9;     // "A0001.DAT"

// Writes the update files into <dir>/upd and merges them, in the given order, into <dir>/DATA.FDB.
bool Merge(CUpdateFDB& fdb, const TempDir& dir, const Recs& files, std::uint32_t crc = 0,
           std::uint32_t key_length = kKey5) {
  std::string names;  // each ends with a NUL, the block with one more
  for (const Rec& f : files) {
    test::WriteFile(dir.path() / "upd" / f.key, f.data);
    names += f.key + '\0';
  }
  std::filesystem::create_directories(dir / "upd");
  return fdb.Open(dir / "DATA.FDB", key_length, 0) &&
         fdb.Update(names + '\0', dir / "upd", static_cast<int>(files.size())) && fdb.Finish(crc) &&
         fdb.WriteIndex();
}

void ExpectDb(const TempDir& dir, std::size_t key_length, const Recs& expected, const std::string& name = "") {
  const Parsed result = ReadDb(dir, key_length);
  EXPECT_EQ(result.problem, "") << name;
  EXPECT_EQ(result.records, expected) << name;
}

// "B=b D= B.NEW=n" is {{"B.DAT", "b"}, {"D.DAT", ""}, {"B.NEW", "n"}}; "*" and
// "+" stand for records that span several copy blocks.
Recs R(const std::string& text) {
  static const std::string big(150000, 'b'), bigger(200000, 'N');
  Recs recs;
  std::istringstream items(text);
  for (std::string item; items >> item;) {
    const std::string name = item.substr(0, item.find('=')), value = item.substr(name.size() + 1);
    recs.push_back({name.size() == 1 ? name + ".DAT" : name, value == "*" ? big : value == "+" ? bigger : value});
  }
  return recs;
}

TEST(UpdateFdbTest, MergesAndDeletesGiveTheExpectedRecordsAndAMatchingIndex) {
  const struct {
    const char* name;
    const char *old_records, *files /* ascending, as the driver hands them */, *expected;
    std::uint32_t left_out = 0;  // trailing key bytes left out of the comparison
  } cases[] = {
      {"into empty", "", "A=a B=bb", "A=a B=bb"},
      {"insert before one", "C=c", "A=a", "A=a C=c"},
      {"insert after one", "C=c", "E=e", "C=c E=e"},
      {"replace one", "C=old", "C=new!", "C=new!"},
      {"remove one by an empty file", "C=c", "C=", ""},
      {"empty file of a new key adds nothing", "C=c", "D=", "C=c"},
      {"insert between", "B=b D=d F=f", "C=c E=e", "B=b C=c D=d E=e F=f"},
      {"replace first, middle, last", "B=b D=d F=f", "B=B2 D=D2 F=F2", "B=B2 D=D2 F=F2"},
      {"equal last key", "B=b D=d F=f", "F=F2", "B=b D=d F=F2"},
      {"equal last key, then greater", "B=b D=d", "D=D2 E=e G=g", "B=b D=D2 E=e G=g"},
      {"greater than all", "B=b D=d", "X=x Y=y", "B=b D=d X=x Y=y"},
      {"remove the middle among inserts", "B=b D=d F=f", "C=c D= G=g", "B=b C=c F=f G=g"},
      {"remove the last by an empty file", "B=b D=d", "D=", "B=b"},
      {"big records across blocks", "B=* D=d F=*", "C=+ F=+", "B=* C=+ D=d F=+"},
      {"left-out bytes: a file replaces under its new name", "A=one B=two", "A.NEW=ONE", "A.NEW=ONE B=two", 4},
      // A delete ("-" and the key) leaves out only its key.
      {"delete first", "B=b D=d F=f", "-B", "D=d F=f"}, {"delete middle", "B=b D=d F=f", "-D", "B=b F=f"},
      {"delete last", "B=b D=d F=f", "-F", "B=b D=d"}, {"delete before all", "B=b D=d F=f", "-A", "B=b D=d F=f"},
      {"delete between", "B=b D=d F=f", "-C", "B=b D=d F=f"}, {"delete after all", "B=b D=d F=f", "-Z", "B=b D=d F=f"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteDb(dir, kKey5, R(c.old_records));
    CUpdateFDB fdb;
    fdb.SetLeftOutBytes(c.left_out);
    const std::string deleted = c.files[0] == '-' ? std::string(1, c.files[1]) + ".DAT" : "";
    ASSERT_TRUE(deleted.empty() ? Merge(fdb, dir, R(c.files))
                                : fdb.Open(dir / "DATA.FDB", kKey5, kKey5 + 4) && fdb.Delete(deleted) && fdb.Finish(0) &&
                                      fdb.WriteIndex())
        << c.name << ": " << fdb.ErrorText();
    ExpectDb(dir, kKey5, R(c.expected), c.name);
    EXPECT_FALSE(std::filesystem::exists(dir / "DATA.TMP")) << c.name;
  }
}

std::string Cut(std::string s, std::size_t n) { return s.substr(0, s.size() - n); }
std::string Poke(std::string s, std::size_t at, char c) { return s.replace(at, 1, 1, c); }

TEST(UpdateFdbTest, DamagedInputAndWrongCrcAreRefusedAndChangeNothing) {
  const Recs two{{"B.DAT", "bbbb"}, {"D.DAT", "dd"}};
  const std::string fdb = FdbBytes(kKey5, two), fdx = FdxBytes(kKey5, two);
  constexpr std::size_t kEntry = kKey5 + 4;
  const Recs descending{{"D.DAT", "d"}, {"B.DAT", "b"}};
  const struct {
    const char* name;
    std::string fdb, fdx;
    std::uint32_t key_length = kKey5, error = 10;
  } cases[] = {
      {"index offset off by one", fdb, Poke(fdx, 2 * kEntry + kKey5, static_cast<char>(fdx[2 * kEntry + kKey5] + 1))},
      {"index key not the record key", fdb, Poke(fdx, 2 * kEntry, 'E')},
      {"index keys descending", FdbBytes(kKey5, descending), FdxBytes(kKey5, descending)},
      {"index misses the last record", fdb, Cut(fdx, kEntry)},
      {"index length not whole entries", fdb, Cut(fdx, 1)},
      {"index only header, records present", fdb, FdxBytes(kKey5, {})},
      {"database cut in the last record", Cut(fdb, 1), fdx},
      {"database shorter than the index says", Cut(fdb, 8), fdx},
      {"record length too large", Poke(fdb, kEntry, static_cast<char>(fdb[kEntry] + 1)), fdx},
      {"header record of another key length", FdbBytes(6, {}), FdxBytes(6, {})},
      {"key length above 260", fdb, fdx, 261, 11},
      {"key length zero", fdb, fdx, 0, 11},
  };
  for (const auto& c : cases) {
    TempDir dir;
    test::WriteFile(dir / "DATA.FDB", c.fdb);
    test::WriteFile(dir / "DATA.FDX", c.fdx);
    CUpdateFDB update;
    EXPECT_FALSE(Merge(update, dir, R("C=c"), 0, c.key_length)) << c.name;
    EXPECT_EQ(update.LastError(), c.error) << c.name << ": " << update.ErrorText();
    EXPECT_EQ(test::ReadFile(dir / "DATA.FDB") + "|" + test::ReadFile(dir / "DATA.FDX"), c.fdb + "|" + c.fdx) << c.name;
  }

  TempDir dir;
  WriteDb(dir, kKey5, two);
  CUpdateFDB update;
  // Names out of order, two names of one key, a name of another length.
  for (const auto& [files, error] : {std::pair<Recs, std::uint32_t>{R("C=c A=a"), CUpdateFDB::kNamesUnsorted},
                                     {R("C=c C=c"), CUpdateFDB::kNamesUnsorted},
                                     {Recs{{"A.D", "a"}}, CUpdateFDB::kBadKeyLength}}) {
    EXPECT_FALSE(Merge(update, dir, files));
    EXPECT_EQ(update.LastError(), error) << files[0].key;
  }
  ASSERT_TRUE(update.Open(dir / "DATA.FDB", kKey5, 0));
  EXPECT_FALSE(update.Update(std::string("A.DAT\0", 7), dir / "none", 1));
  EXPECT_EQ(update.LastError(), CUpdateFDB::kUpdateFileNotOpened);
  EXPECT_EQ(update.ErrorText(), "Open error by file " + (dir / "none") + os::kNativeSeparator + "A.DAT!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), fdb);

  test::WriteFile(dir / "DATA.DB", fdb);
  EXPECT_FALSE(update.Open(dir / "DATA.DB", kKey5, 0));
  EXPECT_EQ(update.LastError(), CUpdateFDB::kBadDatabaseName);
  // A wrong CRC removes the ".TMP"; the companions are named from the
  // upper-cased path (found again on POSIX through the case-insensitive lookup).
  EXPECT_FALSE(Merge(update, dir, R("C=c"), Crc(FdbBytes(kKey5, R("B=bbbb C=c D=dd"))) ^ 1u));
  EXPECT_EQ(update.LastError(), CUpdateFDB::kCrcMismatch);
  EXPECT_EQ(update.ErrorText(), "CRC error by file " + UpperAscii(dir / "DATA.TMP") + "!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB") + test::ReadFile(dir / "DATA.FDX"), fdb + fdx);
  EXPECT_FALSE(std::filesystem::exists(dir / "DATA.TMP"));

  // With left-out trailing bytes A.ZZZ would replace A.DAT ahead of A.TXT.
  WriteDb(dir, kKey5, R("A=one A.TXT=txt"));
  CUpdateFDB left_out;
  left_out.SetLeftOutBytes(4);
  EXPECT_FALSE(Merge(left_out, dir, R("A.ZZZ=ZZZ")));
  EXPECT_EQ(left_out.LastError(), CUpdateFDB::kNamesUnsorted);
  EXPECT_EQ(left_out.ErrorText(), "Sort error by file " + (dir / "DATA.FDB") + "!");
  EXPECT_EQ(test::ReadFile(dir / "DATA.FDB"), FdbBytes(kKey5, R("A=one A.TXT=txt")));
}

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
  void SetUp() override { WriteDb(dir_, kKey, kOld); }

  std::string Upd(const std::string& name) const { return (dir_.path() / "upd" / name).string(); }
  std::string WriteList(const std::string& name, const std::string& text) const {
    test::WriteFile(dir_.path() / name, text);
    return dir_ / name;
  }
  std::string Fails(const std::string& argument) const { return "!\nError during update " + db_ + " -> " + argument + "!\n"; }
  // A fresh driver's messages for one change (a control list without a mode); "ok" first when it went through.
  std::string Update(const std::string& mode, const std::string& argument) const {
    CFdbUpdateControl driver;
    const bool ok = mode.empty() ? driver.Run(argument) : driver.UpdateEntry(db_, mode, argument);
    return (ok ? "ok" : "") + driver.GetMessages();
  }

  const Recs kOld{{"A0001.DAT", "one"}, {"A0002.DAT", "two"}, {"A0003.DAT", "three"}};
  test::TempDir dir_;
  const std::string db_ = dir_ / "DATA.FDB";
};

TEST_F(DriverTest, MasksListsControlListsAndTheirFailures) {
  // A mask without "*.*" compares whole names.
  test::WriteFile(Upd("A0002.NEW"), "TWO");
  EXPECT_EQ(Update("0", Upd("*.NEW")), "ok");
  ExpectDb(dir_, kKey, Recs{kOld[0], kOld[1], {"A0002.NEW", "TWO"}, kOld[2]});
  // A mask matching only folders changes nothing.
  std::filesystem::remove(Upd("A0002.NEW"));
  std::filesystem::create_directories(dir_.path() / "upd" / "SUB00.DAT");
  const std::string before = test::ReadFile(db_);
  EXPECT_EQ(Update("0", Upd("*.*")), "UpdateFile " + Upd("*.*") + " not found" + Fails(Upd("*.*")));
  EXPECT_EQ(test::ReadFile(db_), before);
  // A delete list with a blank line deletes the others and fails.
  WriteDb(dir_, kKey, kOld);
  const std::string list = WriteList("del.txt", "A0001.DAT\r\n\r\na0003.dat\textra\r\n");
  EXPECT_EQ(Update("LIST_DELETE", list), "Key length error by file " + db_ + "!\nError during delete " + db_ + Fails(list));
  ExpectDb(dir_, kKey, Recs{kOld[1]});
  // A control list goes on after a failed line.
  WriteDb(dir_, kKey, kOld);
  test::WriteFile(Upd("A0004.DAT"), "four");
  const std::string missing = dir_ / "NONE.FDB";
  const std::string control = WriteList("ctl.txt", db_ + "\t0\t" + Upd("A0004.DAT") + "\n" + missing +
                                                       "\tDELETE\tA0001.DAT\n" + db_ + "\tDELETE\tA0002.DAT\n");
  EXPECT_EQ(Update("", control), "FDB " + missing + " not found!\nError during update " + missing +
                                     " -> A0001.DAT!\nError during update using file " + control + "!\n");
  ExpectDb(dir_, kKey, Recs{kOld[0], kOld[2], {"A0004.DAT", "four"}});
  // A line with missing fields fails.
  const std::string after = test::ReadFile(db_);
  const std::string short_list = WriteList("ctl2.txt", db_ + "\n");
  EXPECT_EQ(Update("", short_list), "UpdateFile  not found" + Fails("") + "Error during update using file " + short_list + "!\n");
  EXPECT_EQ(test::ReadFile(db_), after);
}

// An index a broken run left missing, empty or old is rebuilt by the next change; a database that cannot be
// indexed keeps the error and its index file as it was.
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
    EXPECT_EQ(Update("DELETE", "A0003.DAT"), "ok");
    ExpectDb(dir_, kKey, Recs{kOld[0]});
    test::WriteFile(Upd("A0002.DAT"), "TWO");
    EXPECT_EQ(Update("0", Upd("A*.DAT")), "ok");
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
  for (const auto& c : damaged) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> files{{"DATA.FDB", c.fdb}};
    if (c.fdx_present) files["DATA.FDX"] = FdxBytes(kKey, kOld);
    std::filesystem::remove(dir_.path() / "DATA.FDX");
    for (const auto& [name, bytes] : files) test::WriteFile(dir_.path() / name, bytes);
    EXPECT_EQ(Update("DELETE", c.key), c.message + UpperAscii(dir_ / "DATA.FDX") + Fails(c.key));
    auto left = test::Snapshot(dir_.path());
    left.erase("DATA.TMP");  // the start of a new database may stay, as under faults
    EXPECT_EQ(left, files);  // and no half-written index
  }
}

// Merges the files by CRC (without files: deletes A0001) and checks what is left. Returns "ok" or the state of
// the database, its index and, without a database, the ".TMP": "old", "new", "-" (missing) or "bad".
std::string RunAndCheck(const Recs& before, const Recs& after, const Recs& files) {
  test::TempDir dir;
  WriteDb(dir, kKey, before);
  for (const Rec& f : files) test::WriteFile(dir.path() / "upd" / f.key, f.data);
  const std::string db = dir / "DATA.FDB", argument = files.empty() ? "A0001.DAT" : (dir.path() / "upd" / "*.*").string();
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", Crc(FdbBytes(kKey, after)));
  CFdbUpdateControl driver;
  const bool ok = driver.UpdateEntry(db, files.empty() ? "DELETE" : crc, argument);

  auto left = test::Snapshot(dir.path());
  std::erase_if(left, [](const auto& file) { return file.first.rfind("upd/", 0) == 0; });
  const auto state = [&](const char* name, std::string (*bytes)(std::size_t, const Recs&)) -> std::string {
    const auto it = left.find(name);
    if (it == left.end()) return "-";
    const std::string content = it->second;
    left.erase(it);
    return content == bytes(kKey, before) ? "old" : content == bytes(kKey, after) ? "new" : "bad";
  };
  const std::string fdb = state("DATA.FDB", FdbBytes), fdx = state("DATA.FDX", FdxBytes);
  const std::string tmp = state("DATA.TMP", FdbBytes);  // an incomplete one stays by design
  const std::string messages = driver.GetMessages();
  test::ExpectNothingLeft(left);
  if (ok) {
    EXPECT_EQ(fdb + " " + fdx + " " + tmp + " " + messages, "new new - ");  // and no message
    return "ok";
  }
  // One failed step, then the driver's closing line for the change.
  EXPECT_NE(messages.find("!\nError during update " + db + " -> " + argument + "!\n"), std::string::npos) << messages;
  // The index stays until the database is replaced and is renamed into place, never a part; only a failed
  // rename leaves no database, the new one waiting as ".TMP".
  const std::string state_left = fdb + " " + fdx + (fdb == "-" ? " " + tmp : "");
  EXPECT_TRUE(state_left == "old old" || state_left == "new old" || state_left == "new new" || state_left == "- old new")
      << state_left;
  EXPECT_TRUE(fdb != "-" || messages.find("Rename error by files ") != std::string::npos) << messages;
  return state_left;
}

TEST(FdbUpdateFault, EveryFailingCallOrFullDiskLeavesTheOldOrTheNewDatabase) {
  const Recs before{{"A0001.DAT", "one"}, {"A0002.DAT", std::string(100000, 'o')}, {"A0003.DAT", "three"}};
  const Recs merged{before[0], {"A0002.DAT", std::string(90000, 'x')}, before[2], {"A0004.DAT", "four"}};
  const Recs files{{"a0002.dat", merged[1].data}, {"a0004.dat", "four"}};
  for (const bool merge : {true, false}) {
    SCOPED_TRACE(merge ? "merge" : "delete");
    const auto run = [&] { RunAndCheck(before, merge ? merged : Recs{before[1], before[2]}, merge ? files : Recs{}); };
    test::ForEveryFileFault([&](const test::FaultCase&, os::fault::FaultScope&) { run(); });
    EXPECT_GE(test::ForEachDiskFullPoint(30000, [&](os::fault::FaultScope&) { run(); }), 3u);
  }
}

// A ".TMP" large enough to be written behind the merge on a second thread and read back for the CRC: a fault
// anywhere still leaves the old or the whole new database, and no thread outlives the change.
TEST(FdbUpdateFault, LargeMergeWrittenBehindLeavesTheOldOrTheNewDatabase) {
  constexpr std::size_t kMiB = 1u << 20;
  const Recs before{{"A0001.DAT", std::string(5 * kMiB, '1')}, {"A0002.DAT", std::string(5 * kMiB, '2')},
                    {"A0003.DAT", std::string(kMiB, '3')}};
  const Recs after{before[0], {"A0002.DAT", std::string(6 * kMiB, 'x')}, before[2]};
  // Reads alternate between the database and the read-back of the block just written; a failed read-back
  // reads the whole ".TMP" again, a failed read of the database ends the change.
  const struct {
    std::uint64_t disk_full_after;  // 0: never full
    std::uint32_t failing_read;     // 0: none
    bool succeeds;
  } faults[] = {{0, 0, true}, {4 * kMiB, 0, false}, {10 * kMiB, 0, false}, {0, 40, false}, {0, 41, true}};
  for (const auto& fault : faults) {
    SCOPED_TRACE(std::to_string(fault.disk_full_after) + " bytes, read " + std::to_string(fault.failing_read));
    os::fault::FaultScope scope;
    if (fault.disk_full_after != 0) scope.DiskFullAfter(fault.disk_full_after);
    if (fault.failing_read != 0) scope.FailCall(os::fault::Call::kRead, fault.failing_read);
    EXPECT_EQ(RunAndCheck(before, after, {{"a0002.dat", after[1].data}}), fault.succeeds ? "ok" : "old old");
  }
}

}  // namespace
}  // namespace veupd
