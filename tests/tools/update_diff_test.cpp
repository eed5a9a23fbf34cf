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
#include "test_support.h"

namespace veupd {
namespace {

using test::ReadFile;
using test::WriteFile;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeader = 7;  // position, token, length

Bytes FromText(std::string_view s) { return {s.begin(), s.end()}; }

// Random bytes; with a small alphabet the content repeats a lot, which
// tempts the search with false matches.
Bytes RandomBytes(std::mt19937_64& rng, std::size_t n, unsigned alphabet = 256) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<std::uint8_t>(alphabet == 256 ? rng() : 'a' + rng() % alphabet);
  return b;
}

struct Decoded {
  std::int32_t position;
  char token;
  Bytes payload;
};

// Reads the records back by hand, as the layout describes them.
std::vector<Decoded> Decode(const Bytes& upd) {
  std::vector<Decoded> out;
  std::size_t p = 0;
  while (upd.size() - p >= kHeader) {
    Decoded d;
    d.position = static_cast<std::int32_t>(upd[p] | upd[p + 1] << 8 | upd[p + 2] << 16 | upd[p + 3] << 24);
    d.token = static_cast<char>(upd[p + 4]);
    const std::size_t len = upd[p + 5] | upd[p + 6] << 8;
    p += kHeader;
    if (d.token != 'D' && d.token != 'd') {
      d.payload.assign(upd.begin() + static_cast<std::ptrdiff_t>(p), upd.begin() + static_cast<std::ptrdiff_t>(p + len));
      p += len;
    }
    out.push_back(d);
  }
  return out;
}

Bytes Diff(const Bytes* old_bytes, const Bytes& new_bytes, bool records, std::size_t max_search = std::size_t{8} << 20) {
  MemorySource old_src(old_bytes != nullptr ? std::span<const std::uint8_t>(*old_bytes) : std::span<const std::uint8_t>());
  MemorySource new_src(new_bytes);
  BufferSink sink;
  DiffOptions options;
  options.records = records;
  options.max_search = max_search;
  const DiffResult r = MakeUpdate(old_bytes != nullptr ? &old_src : nullptr, new_src, sink, options);
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.stats.UpdateSize(), sink.bytes.size());
  return sink.bytes;
}

// Applies the update with the patch engine and returns the new file.
std::string Apply(const test::TempDir& dir, const Bytes* old_bytes, const Bytes& upd, bool records) {
  const std::string old_path = dir / "old.dat";
  const std::string upd_path = dir / "upd.dat";
  const std::string new_path = dir / "new.dat";
  std::error_code ec;
  std::filesystem::remove(old_path, ec);
  std::filesystem::remove(new_path, ec);
  if (old_bytes != nullptr) WriteFile(old_path, {reinterpret_cast<const char*>(old_bytes->data()), old_bytes->size()});
  WriteFile(upd_path, {reinterpret_cast<const char*>(upd.data()), upd.size()});
  PatchErrorList errors;
  const ErrorCode rc = ApplyUpdate(old_path, upd_path, new_path, records ? TokenSet::kFdt : TokenSet::kFix, errors);
  EXPECT_TRUE(rc.ok()) << "code " << rc.code();
  return ReadFile(new_path);  // an empty result is deleted: reads as ""
}

std::string Str(const Bytes& b) { return {b.begin(), b.end()}; }

// ---------------------------------------------------------------- byte level

struct ByteCase {
  const char* name;
  std::uint64_t seed;
  std::size_t size;
  std::size_t edits;
  unsigned alphabet;
  std::size_t max_search;
};

class ByteRoundTrip : public ::testing::TestWithParam<ByteCase> {};

// Inserts, deletes and replaces 1 to 200 bytes at scattered places; the
// edit list in the update format is what the builder has to beat.
TEST_P(ByteRoundTrip, ApplyGivesNewFileAndCostsNoMoreThanTheEdits) {
  const ByteCase& c = GetParam();
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
    const std::size_t tail = static_cast<std::size_t>(new_bytes.end() - it);
    switch (rng() % 3) {
      case 0: new_bytes.insert(it, fresh.begin(), fresh.end()); edit_list += kHeader + len; break;
      case 1: new_bytes.erase(it, it + static_cast<std::ptrdiff_t>(std::min(len, tail))); edit_list += kHeader; break;
      default:
        std::copy_n(fresh.begin(), std::min(len, tail), it);
        edit_list += kHeader + std::min(len, tail);
    }
  }
  const Bytes upd = Diff(&old_bytes, new_bytes, /*records=*/false, c.max_search);
  test::TempDir dir;
  EXPECT_EQ(Apply(dir, &old_bytes, upd, false), Str(new_bytes));
  if (c.alphabet == 256) {
    EXPECT_LE(upd.size(), edit_list);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ByteRoundTrip,
    ::testing::Values(ByteCase{"empty_old", 1, 0, 3, 256, 8u << 20},
                      ByteCase{"tiny", 2, 40, 2, 256, 8u << 20},
                      ByteCase{"one_edit", 3, 5000, 1, 256, 8u << 20},
                      ByteCase{"scattered", 4, 200000, 60, 256, 8u << 20},
                      ByteCase{"dense", 5, 20000, 150, 256, 8u << 20},
                      ByteCase{"repetitive", 6, 100000, 50, 4, 8u << 20},
                      ByteCase{"binary_alphabet", 7, 30000, 40, 2, 8u << 20},
                      ByteCase{"small_search", 8, 300000, 40, 256, 256},
                      ByteCase{"small_search_repetitive", 9, 100000, 30, 3, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateDiff, HelloWorldToJelloIsNoLargerThanTheHandMadeUpdate) {
  const Bytes old_bytes = FromText("HELLO WORLD");
  const Bytes new_bytes = FromText("JELLO!");
  const Bytes upd = Diff(&old_bytes, new_bytes, false);
  test::TempDir dir;
  EXPECT_EQ(Apply(dir, &old_bytes, upd, false), "JELLO!");
  EXPECT_LE(upd.size(), 23u);  // the three records of the worked example
}

TEST(UpdateDiff, InsertionLargerThanTheSearchStillRoundTrips) {
  std::mt19937_64 rng(12);
  const Bytes old_bytes = RandomBytes(rng, 50000);
  Bytes new_bytes = old_bytes;
  const Bytes block = RandomBytes(rng, 20000);
  new_bytes.insert(new_bytes.begin() + 1000, block.begin(), block.end());
  const Bytes upd = Diff(&old_bytes, new_bytes, false, 4096);
  test::TempDir dir;
  EXPECT_EQ(Apply(dir, &old_bytes, upd, false), Str(new_bytes));
}

// ---------------------------------------------------------------- record level

Bytes Record(const Bytes& content) {
  Bytes r{static_cast<std::uint8_t>(content.size()), static_cast<std::uint8_t>(content.size() >> 8)};
  r.insert(r.end(), content.begin(), content.end());
  return r;
}

Bytes Join(const std::vector<Bytes>& records) {
  Bytes out;
  for (const Bytes& r : records) {
    const Bytes rec = Record(r);
    out.insert(out.end(), rec.begin(), rec.end());
  }
  return out;
}

TEST(UpdateDiffRecords, SmallChangeInLongRecordUsesByteTokens) {
  std::mt19937_64 rng(21);
  std::vector<Bytes> records{RandomBytes(rng, 40), RandomBytes(rng, 300), RandomBytes(rng, 50)};
  const Bytes old_bytes = Join(records);
  records[1][150] ^= 0x5A;
  records[1].insert(records[1].begin() + 200, {1, 2, 3});
  const Bytes new_bytes = Join(records);
  const Bytes upd = Diff(&old_bytes, new_bytes, true);
  for (const Decoded& d : Decode(upd)) EXPECT_TRUE(d.token == 'u' || d.token == 'a' || d.token == 'd') << d.token;
  EXPECT_LT(upd.size(), kHeader + records[1].size());
  test::TempDir dir;
  EXPECT_EQ(Apply(dir, &old_bytes, upd, true), Str(new_bytes));
}

TEST(UpdateDiffRecords, CutRecordIsRefused) {
  const Bytes good = Join({FromText("ABC")});
  Bytes cut = good;
  cut.push_back(9);  // a length field of one byte
  MemorySource good_src(good);
  MemorySource cut_src(cut);
  BufferSink sink;
  DiffOptions options;
  options.records = true;
  const DiffResult as_old = MakeUpdate(&cut_src, good_src, sink, options);
  EXPECT_FALSE(as_old.ok);
  EXPECT_NE(as_old.message.find("offset 5"), std::string::npos) << as_old.message;
  EXPECT_FALSE(MakeUpdate(&good_src, cut_src, sink, options).ok);
}

struct RecordCase {
  const char* name;
  std::uint64_t seed;
  std::size_t records;
  std::size_t edits;
  std::size_t max_len;
  unsigned alphabet;
};

class RecordRoundTrip : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordRoundTrip, ApplyGivesNewFile) {
  const RecordCase& c = GetParam();
  std::mt19937_64 rng(c.seed);
  std::vector<Bytes> records(c.records);
  for (auto& r : records) r = RandomBytes(rng, rng() % (c.max_len + 1), c.alphabet);
  const Bytes old_bytes = Join(records);
  for (std::size_t e = 0; e < c.edits; ++e) {
    const std::size_t at = records.empty() ? 0 : rng() % records.size();
    const auto it = records.begin() + static_cast<std::ptrdiff_t>(at);
    switch (records.empty() ? 0 : rng() % 4) {
      case 0: records.insert(it, RandomBytes(rng, rng() % (c.max_len + 1), c.alphabet)); break;
      case 1: records.erase(it); break;
      case 2: *it = RandomBytes(rng, rng() % (c.max_len + 1), c.alphabet); break;
      default:  // a few bytes inside the record
        if (!it->empty()) (*it)[rng() % it->size()] ^= 0x21;
        it->push_back(static_cast<std::uint8_t>(rng()));
    }
  }
  const Bytes new_bytes = Join(records);
  const Bytes upd = Diff(&old_bytes, new_bytes, true);
  test::TempDir dir;
  EXPECT_EQ(Apply(dir, &old_bytes, upd, true), Str(new_bytes));
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordRoundTrip,
                         ::testing::Values(RecordCase{"empty_old", 1, 0, 5, 30, 256},
                                           RecordCase{"few", 2, 5, 3, 30, 256},
                                           RecordCase{"many_small", 3, 3000, 80, 20, 256},
                                           RecordCase{"long_records", 4, 200, 30, 3000, 256},
                                           RecordCase{"duplicates", 5, 2000, 60, 3, 2},
                                           RecordCase{"everything_changed", 6, 100, 400, 50, 256}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- files

TEST(UpdateDiffFiles, WindowsSlideOverFilesLargerThanTheSearch) {
  std::mt19937_64 rng(31);
  const Bytes old_bytes = RandomBytes(rng, 1 << 20);
  Bytes new_bytes = old_bytes;
  for (std::ptrdiff_t k = 0; k < 10; ++k) {  // back to front, 50 bytes each
    const auto at = new_bytes.begin() + 900000 - k * 97003;
    new_bytes.erase(at, at + 50);
  }
  test::TempDir dir;
  WriteFile(dir / "a.old", Str(old_bytes));
  WriteFile(dir / "a.new", Str(new_bytes));
  DiffOptions options;
  options.max_search = 1000;
  const DiffResult r = MakeUpdateFile(dir / "a.old", dir / "a.new", dir / "a.upd", options);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.stats.records, 10u);
  EXPECT_EQ(r.stats.payload_bytes, 0u);
  PatchErrorList errors;
  ASSERT_TRUE(ApplyUpdate(dir / "a.old", dir / "a.upd", dir / "a.out", TokenSet::kFix, errors).ok());
  EXPECT_EQ(ReadFile(dir / "a.out"), Str(new_bytes));
}

TEST(UpdateDiffFiles, MissingNewFailsAndLeavesNoUpdate) {
  test::TempDir dir;
  WriteFile(dir / "a.old", "old");
  const DiffResult r = MakeUpdateFile(dir / "a.old", dir / "missing", dir / "a.upd", DiffOptions{});
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.upd"));
}

TEST(UpdateDiffFiles, UpdateOverAnInputIsRefused) {
  test::TempDir dir;
  WriteFile(dir / "a.old", "old");
  WriteFile(dir / "a.new", "new");
  EXPECT_FALSE(MakeUpdateFile(dir / "a.old", dir / "a.new", dir / "a.old", DiffOptions{}).ok);
  EXPECT_FALSE(MakeUpdateFile(dir / "a.old", dir / "a.new", dir / "a.new", DiffOptions{}).ok);
  EXPECT_EQ(ReadFile(dir / "a.old"), "old");
  EXPECT_EQ(ReadFile(dir / "a.new"), "new");
}

TEST(UpdateDiffFiles, BrokenTableLeavesNoUpdate) {
  test::TempDir dir;
  WriteFile(dir / "t.old", std::string("\x05\x00" "AB", 4));
  WriteFile(dir / "t.new", std::string("\x01\x00" "A", 3));
  DiffOptions options;
  options.records = true;
  EXPECT_FALSE(MakeUpdateFile(dir / "t.old", dir / "t.new", dir / "t.upd", options).ok);
  EXPECT_FALSE(std::filesystem::exists(dir / "t.upd"));
}

}  // namespace
}  // namespace veupd
