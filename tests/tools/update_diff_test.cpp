// The update data builder: every update it writes, applied by the patch
// engine, gives the new file exactly; scattered edits cost no more than the
// edit list that made them; table files get record tokens.
#include "veupd_tool/update_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "patch/patch_engine.h"
#include "patch/update_data.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::ReadFile;
using test::WriteFile;
using Bytes = std::vector<std::uint8_t>;

// Random bytes; with a small alphabet the content repeats a lot, which
// tempts the search with false matches.
Bytes RandomBytes(std::mt19937_64& rng, std::size_t n, unsigned alphabet = 256) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<std::uint8_t>(alphabet == 256 ? rng() : 'a' + rng() % alphabet);
  return b;
}

std::string Str(const Bytes& b) { return {b.begin(), b.end()}; }

// Builds the update file by file, applies it with the patch engine and
// expects the new file.
DiffStats RoundTrip(const Bytes& old_bytes, const Bytes& new_bytes, bool records, std::size_t max_search = 8u << 20) {
  test::TempDir dir;
  WriteFile(dir / "old.dat", Str(old_bytes));
  WriteFile(dir / "new.dat", Str(new_bytes));
  DiffOptions options;
  options.records = records;
  options.max_search = max_search;
  const DiffResult r = MakeUpdateFile(dir / "old.dat", dir / "new.dat", dir / "upd.dat", options);
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.stats.UpdateSize() + kOldCrcTrailerSize, ReadFile(dir / "upd.dat").size());
  PatchErrorList errors;
  const ErrorCode rc = ApplyUpdate(dir / "old.dat", dir / "upd.dat", dir / "out.dat", records ? TokenSet::kFdt : TokenSet::kFix, errors);
  EXPECT_TRUE(rc.ok()) << "code " << rc.code();
  EXPECT_EQ(ReadFile(dir / "out.dat"), Str(new_bytes));  // an empty result is deleted: reads as ""
  return r.stats;
}

// Inserts, deletes and replaces 1 to 200 bytes at scattered places; the
// edit list in the update format is what the builder has to beat. A small
// search makes the windows slide over the files.
TEST(UpdateDiff, ByteEditsRoundTripAndCostNoMoreThanTheEdits) {
  const struct {
    const char* name;
    std::uint64_t seed;
    std::size_t size, edits;
    unsigned alphabet = 256;
    std::size_t max_search = 8u << 20;
  } cases[] = {{"empty old", 1, 0, 3},         {"tiny", 2, 40, 2},          {"one edit", 3, 5000, 1},
               {"scattered", 4, 200000, 60},   {"dense", 5, 20000, 150},    {"repetitive", 6, 100000, 50, 4},
               {"binary alphabet", 7, 30000, 40, 2}, {"small search", 8, 300000, 40, 256, 256},
               {"small search, repetitive", 9, 100000, 30, 3, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937_64 rng(c.seed);
    const Bytes old_bytes = RandomBytes(rng, c.size, c.alphabet);
    Bytes new_bytes = old_bytes;
    std::vector<std::size_t> at(c.edits);
    for (auto& p : at) p = c.size == 0 ? 0 : rng() % c.size;
    std::sort(at.rbegin(), at.rend());  // back to front: earlier offsets stay valid
    std::uint64_t edit_list = 0;
    for (const std::size_t p : at) {
      const std::size_t len = 1 + rng() % 200;
      const Bytes fresh = RandomBytes(rng, len, c.alphabet);
      const auto it = new_bytes.begin() + static_cast<std::ptrdiff_t>(std::min(p, new_bytes.size()));
      const std::size_t cut = std::min(len, static_cast<std::size_t>(new_bytes.end() - it));
      switch (rng() % 3) {
        case 0: new_bytes.insert(it, fresh.begin(), fresh.end()); edit_list += kRecordHeaderSize + len; break;
        case 1: new_bytes.erase(it, it + static_cast<std::ptrdiff_t>(cut)); edit_list += kRecordHeaderSize; break;
        default: std::copy_n(fresh.begin(), cut, it); edit_list += kRecordHeaderSize + cut;
      }
    }
    const std::uint64_t size = RoundTrip(old_bytes, new_bytes, false, c.max_search).UpdateSize();
    EXPECT_LE(c.alphabet == 256 ? size : 0, edit_list);
  }
  // HELLO WORLD to JELLO! takes three records by hand (23 bytes); an insertion larger than the search.
  EXPECT_LE(RoundTrip({'H', 'E', 'L', 'L', 'O', ' ', 'W', 'O', 'R', 'L', 'D'}, {'J', 'E', 'L', 'L', 'O', '!'}, false).UpdateSize(), 23u);
  std::mt19937_64 rng(12);
  const Bytes old_bytes = RandomBytes(rng, 50000), block = RandomBytes(rng, 20000);
  Bytes new_bytes = old_bytes;
  new_bytes.insert(new_bytes.begin() + 1000, block.begin(), block.end());
  RoundTrip(old_bytes, new_bytes, false, 4096);
}

// ---------------------------------------------------------------- record level

Bytes Join(const std::vector<Bytes>& records) {
  Bytes out;
  for (const Bytes& r : records) {
    out.push_back(static_cast<std::uint8_t>(r.size()));
    out.push_back(static_cast<std::uint8_t>(r.size() >> 8));
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

TEST(UpdateDiffRecords, RecordEditsRoundTrip) {
  const struct {
    const char* name;
    std::uint64_t seed;
    std::size_t records, edits, max_len;
    unsigned alphabet = 256;
  } cases[] = {{"empty old", 1, 0, 5, 30},      {"few", 2, 5, 3, 30},        {"many small", 3, 3000, 80, 20},
               {"long records", 4, 200, 30, 3000}, {"duplicates", 5, 2000, 60, 3, 2}, {"everything changed", 6, 100, 400, 50}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937_64 rng(c.seed);
    const auto random_record = [&] { return RandomBytes(rng, rng() % (c.max_len + 1), c.alphabet); };
    std::vector<Bytes> records(c.records);
    for (auto& r : records) r = random_record();
    const Bytes old_bytes = Join(records);
    for (std::size_t e = 0; e < c.edits; ++e) {
      const auto it = records.begin() + static_cast<std::ptrdiff_t>(records.empty() ? 0 : rng() % records.size());
      switch (records.empty() ? 0 : rng() % 4) {
        case 0: records.insert(it, random_record()); break;
        case 1: records.erase(it); break;
        case 2: *it = random_record(); break;
        default:  // a few bytes inside the record
          if (!it->empty()) (*it)[rng() % it->size()] ^= 0x21;
          it->push_back(static_cast<std::uint8_t>(rng()));
      }
    }
    RoundTrip(old_bytes, Join(records), true);
  }
  // A small change in a long record costs bytes, not the record.
  std::mt19937_64 rng(21);
  std::vector<Bytes> records{RandomBytes(rng, 40), RandomBytes(rng, 300), RandomBytes(rng, 50)};
  const Bytes old_bytes = Join(records);
  records[1][150] ^= 0x5A;
  records[1].insert(records[1].begin() + 200, {1, 2, 3});
  EXPECT_LT(RoundTrip(old_bytes, Join(records), true).UpdateSize(), kRecordHeaderSize + records[1].size());
}

// A cut record is refused in memory and in files; a failed build leaves no
// update and the inputs alone.
TEST(UpdateDiffRecords, CutRecordsAndBadFilesAreRefused) {
  const Bytes good = Join({{'A', 'B', 'C'}});
  Bytes cut = good;
  cut.push_back(9);  // a length field of one byte
  MemorySource good_src(good), cut_src(cut);
  BufferSink sink;
  DiffOptions options;
  options.records = true;
  const DiffResult as_old = MakeUpdate(&cut_src, good_src, sink, options);
  EXPECT_FALSE(as_old.ok);
  EXPECT_NE(as_old.message.find("offset 5"), std::string::npos) << as_old.message;
  EXPECT_FALSE(MakeUpdate(&good_src, cut_src, sink, options).ok);
  // The same in memory, whole: the update's bytes are what the stats say.
  const Bytes other = Join({{'A', 'B', 'D'}});
  MemorySource other_src(other);
  const DiffResult r = MakeUpdate(&good_src, other_src, sink, options);
  EXPECT_TRUE(r.ok && r.stats.UpdateSize() == sink.bytes.size() && r.stats.records > 0) << r.message;

  test::TempDir dir;
  WriteFile(dir / "a.old", "old");
  WriteFile(dir / "a.new", "new");
  EXPECT_FALSE(MakeUpdateFile(dir / "a.old", dir / "missing", dir / "a.upd", DiffOptions{}).ok);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.upd"));
  EXPECT_FALSE(MakeUpdateFile(dir / "a.old", dir / "a.new", dir / "a.old", DiffOptions{}).ok);
  EXPECT_FALSE(MakeUpdateFile(dir / "a.old", dir / "a.new", dir / "a.new", DiffOptions{}).ok);
  EXPECT_EQ(ReadFile(dir / "a.old") + ReadFile(dir / "a.new"), "oldnew");
  WriteFile(dir / "t.old", std::string("\x05\x00" "AB", 4));  // a record past the end
  WriteFile(dir / "t.new", Str(good));
  EXPECT_FALSE(MakeUpdateFile(dir / "t.old", dir / "t.new", dir / "t.upd", options).ok);
  EXPECT_FALSE(std::filesystem::exists(dir / "t.upd"));
}

}  // namespace
}  // namespace veupd
