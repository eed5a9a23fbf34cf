// FDB merges and deletes under failing file primitives: the database is the
// old or the new one (or, after a failed rename, the new one under ".TMP"),
// its index is the old one until the database is replaced, and the driver's
// messages say what failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "fault_support.h"
#include "tables/fdb_update_control.h"
#include "tables/update_fdb_test_db.h"

namespace veupd {
namespace {

using test::fdb::FdbBytes;
using test::fdb::FdxBytes;
using test::fdb::Rec;

constexpr std::size_t kKey = 9;  // "A0001.DAT"

std::string CrcText(const std::string& bytes) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", test::fdb::Crc(bytes));
  return crc;
}

const std::vector<Rec> kOld{{"A0001.DAT", "one"}, {"A0002.DAT", std::string(100000, 'o')}, {"A0003.DAT", "three"}};
const std::vector<Rec> kMerged{kOld[0], {"A0002.DAT", std::string(90000, 'x')}, kOld[2], {"A0004.DAT", "four"}};
const std::vector<Rec> kDeleted{kOld[1], kOld[2]};

// Runs the merge (by CRC) or the delete of A0001 and checks what is left.
void RunAndCheck(bool merge) {
  const std::vector<Rec>& result = merge ? kMerged : kDeleted;
  test::TempDir dir;
  test::fdb::WriteDb(dir, kKey, kOld);
  test::WriteFile(dir.path() / "upd" / "a0002.dat", kMerged[1].data);
  test::WriteFile(dir.path() / "upd" / "a0004.dat", kMerged[3].data);
  const std::string db = dir / "DATA.FDB", argument = merge ? (dir.path() / "upd" / "*.*").string() : "A0001.DAT";
  CFdbUpdateControl driver;
  const bool ok = driver.UpdateEntry(db, merge ? CrcText(FdbBytes(kKey, result)) : "DELETE", argument);

  const std::string old_fdb = FdbBytes(kKey, kOld), new_fdb = FdbBytes(kKey, result);
  const std::string old_fdx = FdxBytes(kKey, kOld), new_fdx = FdxBytes(kKey, result);
  const std::string messages = driver.GetMessages();
  auto left = test::Snapshot(dir.path());
  for (auto it = left.begin(); it != left.end();) it = it->first.rfind("upd/", 0) == 0 ? left.erase(it) : ++it;
  if (ok) {
    EXPECT_EQ(messages, "");
    EXPECT_EQ(left.size(), 2u);
    EXPECT_TRUE(test::Holds(left["DATA.FDB"], new_fdb, "database"));
    EXPECT_TRUE(test::Holds(left["DATA.FDX"], new_fdx, "index"));
    return;
  }
  // One failed step, then the driver's closing line for the change.
  EXPECT_NE(messages.find("!\nError during update " + db + " -> " + argument + "!\n"), std::string::npos) << messages;
  const auto fdb = left.find("DATA.FDB");
  bool is_new = false;
  if (fdb == left.end()) {
    // Only a failed rename leaves no database, and the new one waits as ".TMP".
    EXPECT_NE(messages.find("Rename error by files "), std::string::npos) << messages;
    EXPECT_TRUE(test::Holds(left["DATA.TMP"], new_fdb, "database left as .TMP"));
    is_new = true;
  } else if (fdb->second != old_fdb) {
    EXPECT_TRUE(test::Holds(fdb->second, new_fdb, "database damaged"));
    is_new = true;
  }
  // Until the database is replaced its index stays as it was. After that
  // only the index step can fail, and the index is written under another
  // name and renamed: the old one or the whole new one, never a part.
  const std::string& fdx = left["DATA.FDX"];
  if (!is_new || fdb == left.end()) {
    EXPECT_TRUE(test::Holds(fdx, old_fdx, "index of the old database"));
  } else if (fdx != old_fdx) {
    EXPECT_TRUE(test::Holds(fdx, new_fdx, "index neither old nor new"));
  }
  for (const char* name : {"DATA.FDB", "DATA.FDX", "DATA.TMP"}) left.erase(name);  // a .TMP stays by design
  test::ExpectNothingLeft(left);
}

TEST(FdbUpdateFault, EveryFailingCallOrFullDiskLeavesTheOldOrTheNewDatabase) {
  for (const bool merge : {true, false}) {
    SCOPED_TRACE(merge ? "merge" : "delete");
    test::ForEveryFileFault([&](const test::FaultCase&, os::fault::FaultScope&) { RunAndCheck(merge); });
    EXPECT_GE(test::ForEachDiskFullPoint(30000, [&](os::fault::FaultScope&) { RunAndCheck(merge); }), 3u);
  }
}

// A database large enough that its ".TMP" is written to the disk behind the
// merge on a second thread, and read back block by block for the CRC: a
// fault anywhere still leaves the old or the whole new database, and no
// thread outlives the change.
TEST(FdbUpdateFault, LargeMergeWrittenBehindLeavesTheOldOrTheNewDatabase) {
  constexpr std::size_t kMiB = 1u << 20;
  const std::vector<Rec> old_recs{{"A0001.DAT", std::string(5 * kMiB, '1')},
                                  {"A0002.DAT", std::string(5 * kMiB, '2')},
                                  {"A0003.DAT", std::string(kMiB, '3')}};
  const std::vector<Rec> new_recs{old_recs[0], {"A0002.DAT", std::string(6 * kMiB, 'x')}, old_recs[2]};
  const std::string old_fdb = FdbBytes(kKey, old_recs), new_fdb = FdbBytes(kKey, new_recs);
  const struct {
    const char* name;
    std::function<void(os::fault::FaultScope&)> arm;
    bool succeeds;
  } faults[] = {
      {"none", [](os::fault::FaultScope&) {}, true},
      {"disk full after 4 MiB", [&](os::fault::FaultScope& f) { f.DiskFullAfter(4 * kMiB); }, false},
      {"disk full after 10 MiB", [&](os::fault::FaultScope& f) { f.DiskFullAfter(10 * kMiB); }, false},
      // Reads alternate between the old database and the read-back of the
      // block just written; a failed read-back means reading the whole
      // ".TMP" again, a failed read of the database ends the change.
      {"read 40 fails", [](os::fault::FaultScope& f) { f.FailCall(os::fault::Call::kRead, 40); }, false},
      {"read 41 fails", [](os::fault::FaultScope& f) { f.FailCall(os::fault::Call::kRead, 41); }, true},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.name);
    test::TempDir dir;
    test::fdb::WriteDb(dir, kKey, old_recs);
    test::WriteFile(dir.path() / "upd" / "a0002.dat", new_recs[1].data);
    CFdbUpdateControl driver;
    bool ok = false;
    {
      os::fault::FaultScope scope;
      fault.arm(scope);
      ok = driver.UpdateEntry(dir / "DATA.FDB", CrcText(new_fdb), (dir.path() / "upd" / "*.*").string());
    }
    EXPECT_EQ(ok, fault.succeeds) << driver.GetMessages();
    EXPECT_TRUE(test::Holds(test::ReadFile(dir / "DATA.FDB"), ok ? new_fdb : old_fdb, "database"));
    EXPECT_TRUE(test::Holds(test::ReadFile(dir / "DATA.FDX"), FdxBytes(kKey, ok ? new_recs : old_recs), "index"));
  }
}

}  // namespace
}  // namespace veupd
