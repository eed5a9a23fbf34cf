// FDB merges and deletes under failing file primitives: the database is the
// old or the new one (or, after a failed rename, the new one under ".TMP"),
// its index is the old one until the database is replaced, and the driver's
// messages say what failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fault_support.h"
#include "tables/fdb_update_control.h"
#include "tables/update_fdb_test_db.h"

namespace veupd {
namespace {

using test::fdb::Rec;

constexpr std::size_t kKey = 9;  // "A0001.DAT"

const std::vector<Rec> kOld{{"A0001.DAT", "one"}, {"A0002.DAT", std::string(100000, 'o')}, {"A0003.DAT", "three"}};
const std::vector<Rec> kMerged{{"A0001.DAT", "one"},
                               {"A0002.DAT", std::string(90000, 'x')},
                               {"A0003.DAT", "three"},
                               {"A0004.DAT", "four"}};
const std::vector<Rec> kDeleted{{"A0002.DAT", std::string(100000, 'o')}, {"A0003.DAT", "three"}};

struct Change {
  const char* name;
  const char* mode;  // null: the CRC of the new database
  const char* argument;
  const std::vector<Rec>& result;
};

const Change kChanges[] = {
    {"merge", nullptr, "upd/*.*", kMerged},
    {"delete", "DELETE", "A0001.DAT", kDeleted},
};

struct FdbRun {
  explicit FdbRun(const Change& c) : change(c) {
    test::fdb::WriteDb(dir, kKey, kOld);
    test::WriteFile(dir.path() / "upd" / "a0002.dat", kMerged[1].data);
    test::WriteFile(dir.path() / "upd" / "a0004.dat", kMerged[3].data);
    if (c.mode != nullptr) {
      mode = c.mode;
      argument = c.argument;
    } else {
      char crc[9];
      std::snprintf(crc, sizeof crc, "%08X", test::fdb::Crc(test::fdb::FdbBytes(kKey, c.result)));
      mode = crc;
      argument = (dir.path() / "upd" / "*.*").string();
    }
  }

  bool Go() { return driver.UpdateEntry(db, mode, argument); }

  const Change& change;
  test::TempDir dir;
  std::string db = dir / "DATA.FDB";
  std::string mode, argument;
  CFdbUpdateControl driver;
};

void CheckRun(FdbRun& run, bool ok) {
  const std::string old_fdb = test::fdb::FdbBytes(kKey, kOld);
  const std::string new_fdb = test::fdb::FdbBytes(kKey, run.change.result);
  const std::string old_fdx = test::fdb::FdxBytes(kKey, kOld);
  const std::string new_fdx = test::fdb::FdxBytes(kKey, run.change.result);
  const std::string messages = run.driver.GetMessages();
  auto left = test::Snapshot(run.dir.path());
  for (auto it = left.begin(); it != left.end();) it = it->first.rfind("upd/", 0) == 0 ? left.erase(it) : ++it;

  if (ok) {
    EXPECT_EQ(messages, "");
    EXPECT_EQ(left.size(), 2u);
    EXPECT_TRUE(test::Holds(left["DATA.FDB"], new_fdb, "database"));
    EXPECT_TRUE(test::Holds(left["DATA.FDX"], new_fdx, "index"));
    return;
  }
  // One failed step, then the driver's closing line for the change.
  EXPECT_NE(messages.find("!\nError during update " + run.db + " -> " + run.argument + "!\n"), std::string::npos)
      << messages;

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
  left.erase("DATA.FDB");
  left.erase("DATA.FDX");
  left.erase("DATA.TMP");  // an incomplete or unrenamed new database stays by design
  test::ExpectNothingLeft(left);
}

TEST(FdbUpdateFault, EveryFailingCallLeavesTheOldOrTheNewDatabase) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.name);
    test::ForEveryFileFault([&](const test::FaultCase&, os::fault::FaultScope&) {
      FdbRun run(change);
      const bool ok = run.Go();
      CheckRun(run, ok);
    });
  }
}

TEST(FdbUpdateFault, DiskFullAtAnyPointLeavesTheOldOrTheNewDatabase) {
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.name);
    const std::uint32_t failed = test::ForEachDiskFullPoint(30000, [&](os::fault::FaultScope&) {
      FdbRun run(change);
      const bool ok = run.Go();
      CheckRun(run, ok);
    });
    EXPECT_GE(failed, 3u);
  }
}

// A database large enough that its ".TMP" is written to the disk behind the
// merge on a second thread, and read back block by block for the CRC: a
// fault anywhere still leaves the old or the whole new database, and no
// thread outlives the change.
std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(std::filesystem::file_size(path)), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

TEST(FdbUpdateFault, LargeMergeWrittenBehindLeavesTheOldOrTheNewDatabase) {
  constexpr std::size_t kMiB = 1u << 20;
  const std::vector<Rec> old_recs{{"A0001.DAT", std::string(5 * kMiB, '1')},
                                  {"A0002.DAT", std::string(5 * kMiB, '2')},
                                  {"A0003.DAT", std::string(kMiB, '3')}};
  const std::vector<Rec> new_recs{old_recs[0], {"A0002.DAT", std::string(6 * kMiB, 'x')}, old_recs[2]};
  const std::string old_fdb = test::fdb::FdbBytes(kKey, old_recs);
  const std::string new_fdb = test::fdb::FdbBytes(kKey, new_recs);
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", test::fdb::Crc(new_fdb));
  struct Fault {
    const char* name;
    std::function<void(os::fault::FaultScope&)> arm;
    bool succeeds;
  };
  const Fault faults[] = {
      {"none", [](os::fault::FaultScope&) {}, true},
      {"disk full after 4 MiB", [&](os::fault::FaultScope& f) { f.DiskFullAfter(4 * kMiB); }, false},
      {"disk full after 10 MiB", [&](os::fault::FaultScope& f) { f.DiskFullAfter(10 * kMiB); }, false},
      // Reads alternate between the old database and the read-back of the
      // block just written; a failed read-back means reading the whole
      // ".TMP" again, a failed read of the database ends the change.
      {"read 40 fails", [](os::fault::FaultScope& f) { f.FailCall(os::fault::Call::kRead, 40); }, false},
      {"read 41 fails", [](os::fault::FaultScope& f) { f.FailCall(os::fault::Call::kRead, 41); }, true},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    test::TempDir dir;
    test::fdb::WriteDb(dir, kKey, old_recs);
    test::WriteFile(dir.path() / "upd" / "a0002.dat", new_recs[1].data);
    CFdbUpdateControl driver;
    bool ok = false;
    {
      os::fault::FaultScope scope;
      fault.arm(scope);
      ok = driver.UpdateEntry(dir / "DATA.FDB", crc, (dir.path() / "upd" / "*.*").string());
    }
    const std::string fdb = ReadWhole(dir.path() / "DATA.FDB");
    EXPECT_EQ(ok, fault.succeeds) << driver.GetMessages();
    EXPECT_TRUE(test::Holds(fdb, ok ? new_fdb : old_fdb, ok ? "new database" : "old database"));
    EXPECT_TRUE(test::Holds(ReadWhole(dir.path() / "DATA.FDX"),
                      test::fdb::FdxBytes(kKey, ok ? new_recs : old_recs), "index"));
  }
}

}  // namespace
}  // namespace veupd
