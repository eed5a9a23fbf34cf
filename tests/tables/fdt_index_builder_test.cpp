// The index builder against the reader: tables of 1 to 100,000 records in
// both index forms, every key found, keys between and beyond with and
// without the nearest flag; and the builder's failure results.
#include "tables/fdt_index_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tables/fdt_test_tables.h"
#include "test_support.h"

namespace veupd::fdt {
namespace {

using test::Le16;
using test::Le32;
using test::Record;
using test::Var8;

std::string TextFor(std::uint32_t key) { return "t" + std::to_string(key); }

// Records keyed 2, 4, ..., 2n in shuffled file order, each with its text.
std::string ShuffledRecords(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint32_t> keys(n);
  for (std::size_t i = 0; i < n; ++i) keys[i] = static_cast<std::uint32_t>(2 * (i + 1));
  std::mt19937 random(seed);
  std::shuffle(keys.begin(), keys.end(), random);
  std::string data;
  for (const std::uint32_t key : keys) data += Record(Le32(key) + Var8(TextFor(key)));
  return data;
}

class IndexBuilderTest : public ::testing::Test {
 protected:
  IndexResult Build(const test::StructureLayout& layout, const std::string& data) {
    test::WriteFile(dir_ / "T.STR", test::StructureBytes(layout));
    test::WriteFile(dir_ / "T.DAT", data);
    return BuildIndex(dir_ / "T.STR", dir_ / "T.DAT", dir_ / "T.IDX");
  }
  void Open(FDT& fdt) {
    std::string d, i;
    ASSERT_TRUE(fdt.NewStru(dir_ / "T.STR", d, i));
    ASSERT_TRUE(fdt.SetFiles(dir_ / "T.DAT", dir_ / "T.IDX"));
    ASSERT_TRUE(fdt.OpenFiles(kOpenAll));
  }
  test::TempDir dir_;
};

TEST_F(IndexBuilderTest, EveryKeyIsFoundInBothFormsAtEverySize) {
  const std::vector<std::size_t> sizes = {1, 2, 3, 4, 7, 8, 15, 16, 100, 255, 256, 511, 512, 513, 1000, 4095, 4096, 100000};
  for (const std::size_t n : sizes) {
    const std::string data = ShuffledRecords(n, static_cast<std::uint32_t>(n));
    for (const bool tree : {false, true}) {
      // The list form is a plain binary search, covered well below 100,000.
      if (!tree && n > 10000) continue;
      for (const bool nearest : {false, true}) {
        const std::string name = std::to_string(n) + (tree ? " tree" : " list") + (nearest ? " nearest" : "");
        const std::uint32_t flags = kFlagBackward | (tree ? kFlagTree : 0) | (nearest ? kFlagNearest : 0);
        ASSERT_EQ(Build(test::NumberTextLayout(flags), data), IndexResult::kOk) << name;
        FDT fdt;
        Open(fdt);
        std::size_t misses = 0;
        for (std::uint32_t key = 1; key <= 2 * n + 1; ++key) {
          const std::string bytes = Le32(key);
          const bool found = fdt.Search(bytes.data(), 4);
          // Even keys exist; odd ones lie between (or below, or beyond all).
          const bool expect_found = key % 2 == 0 || (nearest && key < 2 * n + 1);
          const std::string expect_text = expect_found ? TextFor(key % 2 == 0 ? key : key + 1) : "";
          const std::string text = found ? fdt.GetField(1) : "";
          if (found != expect_found || text != expect_text) {
            ADD_FAILURE() << name << ": key " << key << " found " << found << " text '" << text << "'";
            if (++misses > 5) return;
          }
        }
      }
    }
  }
}

TEST_F(IndexBuilderTest, WideAndNarrowEntriesMakeDeepAndShallowTrees) {
  struct Row {
    const char* name;
    std::uint16_t entry_length;
    std::size_t count;
  };
  // E = 1000 gives blocks of 3 entries (2 steps), so 2000 keys need 6 levels.
  const std::vector<Row> rows = {{"wide keys", 1000, 2000}, {"one-byte keys with repeats", 5, 3000}};
  for (const Row& row : rows) {
    const std::size_t key_length = row.entry_length - 4u;
    test::StructureLayout layout;
    layout.entry_length = row.entry_length;
    layout.flags = kFlagTree;
    layout.fields = {{"KY", static_cast<std::uint16_t>(key_length), 1, test::kSingle, 0, test::kFixed, ""},
                   {"TX", 20, 1, test::kSingle, 0, 0, ""}};
    std::vector<std::string> keys;
    std::string data;
    for (std::size_t i = 0; i < row.count; ++i) {
      std::string key(key_length, '\0');
      // Forward comparison: the text in the first bytes decides.
      const std::string digits = std::to_string((i * 7919) % (key_length == 1 ? 256 : 100000));
      if (key_length == 1) {
        key[0] = static_cast<char>(std::stoi(digits));
      } else {
        key.replace(0, digits.size(), digits);
      }
      keys.push_back(key);
      data += Record(key + Var8(key_length == 1 ? std::to_string(std::uint8_t(key[0])) : digits));
    }
    ASSERT_EQ(Build(layout, data), IndexResult::kOk) << row.name;
    FDT fdt;
    Open(fdt);
    for (const std::string& key : keys) {
      ASSERT_TRUE(fdt.Search(key.data(), static_cast<std::int16_t>(key_length))) << row.name;
      const std::string expect = key_length == 1 ? std::to_string(std::uint8_t(key[0])) : key.substr(0, key.find('\0'));
      ASSERT_EQ(std::string(fdt.GetField(1)), expect) << row.name;
    }
  }
}

// The packed sort against a plain stable sort under the table's comparison:
// every key length that packs, both directions, keys from a few values
// (many equal, one digit) to the whole 32-bit range (top bucket pass plus
// one to three passes per bucket), keys already in order or all but the
// last, and a few outliers that leave almost every key in one top bucket.
TEST(IndexEntriesSort, MatchesStableSortUnderTheTableComparison) {
  struct Case {
    std::size_t key_length;
    bool backward;
    std::uint32_t range;  // 0: any 32-bit value
    int order = 0;        // 1: ascending values, 2: ascending but the last
    std::size_t outlier_every = 0;  // every n-th key from the whole range
  };
  const Case cases[] = {{1, false, 7}, {1, true, 0},    {2, false, 300}, {2, true, 0}, {3, false, 0},
                        {3, true, 5000}, {4, false, 0}, {4, true, 0},    {4, true, 3}, {4, false, 1u << 20},
                        {4, true, 0, 1}, {4, true, 0, 2}, {2, true, 1u << 16, 2}, {4, false, 16, 0, 1000},
                        {3, true, 1u << 12, 0, 3000}};
  for (const Case& c : cases) {
    const std::size_t entry_length = c.key_length + 4;
    std::mt19937 random(static_cast<std::uint32_t>(c.key_length * 31 + c.range));
    const std::size_t count = 20000;
    std::vector<std::uint32_t> values(count);
    for (std::size_t i = 0; i < count; ++i) {
      const bool outlier = c.outlier_every != 0 && i % c.outlier_every == 0;
      values[i] = c.range == 0 || outlier ? static_cast<std::uint32_t>(random()) : static_cast<std::uint32_t>(random() % c.range);
    }
    if (c.order != 0) std::sort(values.begin(), values.end() - (c.order == 2 ? 1 : 0));
    std::vector<std::uint8_t> keys(count * c.key_length);
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t b = 0; b < c.key_length; ++b) keys[i * c.key_length + b] = static_cast<std::uint8_t>(values[i] >> (8 * b));
    }
    IndexEntries entries;
    entries.Reset(entry_length, c.backward);
    for (std::size_t i = 0; i < count; ++i) entries.Add(&keys[i * c.key_length], static_cast<std::uint32_t>(i * 10));
    entries.Sort();

    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const std::uint8_t* x = &keys[a * c.key_length];
      const std::uint8_t* y = &keys[b * c.key_length];
      return (c.backward ? CompareBackward(x, y, c.key_length) : CompareForward(x, y, c.key_length)) < 0;
    });
    ASSERT_EQ(entries.Count(), count);
    std::vector<std::uint8_t> got(entry_length);
    for (std::size_t i = 0; i < count; ++i) {
      entries.CopyEntry(i, got.data());
      const std::size_t want = order[i];
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(c.key_length),
                             keys.begin() + static_cast<std::ptrdiff_t>(want * c.key_length)))
          << "key length " << c.key_length << (c.backward ? " backward" : " forward") << ", entry " << i;
      ASSERT_EQ(Le32(static_cast<std::uint32_t>(want * 10)), std::string(got.begin() + static_cast<std::ptrdiff_t>(c.key_length), got.end()))
          << "key length " << c.key_length << ", entry " << i;
    }
  }
}

TEST_F(IndexBuilderTest, TreeLayoutFitsBlocksAndLevels) {
  TreeLayout layout;
  ASSERT_TRUE(PlanTree(100000, 8, layout));
  EXPECT_EQ(layout.steps, 9u);           // 511 entries of 8 bytes fill 4088 bytes
  EXPECT_EQ(layout.block_size, 4088u);
  EXPECT_EQ(layout.depth, 17u);          // 2^17 - 1 >= 100,000
  EXPECT_EQ(layout.levels, 2u);
  EXPECT_EQ(layout.start_step, 1u);      // the first block holds 8 of the 9 steps
  EXPECT_EQ(layout.file_size, 100u + 4088u * (1 + 256));
  ASSERT_TRUE(PlanTree(0, 8, layout));
  EXPECT_EQ(layout.levels, 0u);
  // One entry per block and 20 levels reach at most 2^20 - 1 entries.
  EXPECT_TRUE(PlanTree((1u << 20) - 1, 3000, layout));
  EXPECT_FALSE(PlanTree(1u << 20, 3000, layout));
  EXPECT_FALSE(PlanTree((1u << 20) - 1, 5000, layout));  // past 32-bit offsets
  EXPECT_FALSE(PlanTree(10, 4, layout));
}

TEST_F(IndexBuilderTest, KeysComeAfterTheBitmapAndArePadded) {
  test::StructureLayout layout;
  layout.entry_length = 8;
  layout.flags = kFlagBitmap;
  layout.fields = {{"KY", 4, 1, test::kSingle, 0, test::kFixed, ""}, {"TX", 9, 1, test::kSingle, 0, 0, ""}};
  const std::string data = Record("\x01\xC0" + std::string("zzzz") + Var8("x")) + Record(std::string("\x01\x80") + "ab");
  ASSERT_EQ(Build(layout, data), IndexResult::kOk);
  EXPECT_EQ(test::ReadFile(dir_.path() / "T.IDX"),
            std::string("ab\0\0", 4) + Le32(10) + "zzzz" + Le32(0));
}

// ---- failures

TEST_F(IndexBuilderTest, FailuresLeaveTheIndexAlone) {
  const std::string good = Record(Le32(2) + Var8("a"));
  struct Row {
    const char* name;
    std::string data;
    IndexResult expected;
  };
  const std::vector<Row> rows = {
      {"record past the end", good + Le16(20) + "abc", IndexResult::kDataDamaged},
      {"half a length word", good + "\x05", IndexResult::kDataDamaged},
      {"record above the maximum", good + Le16(300) + std::string(300, 'x'), IndexResult::kDataDamaged},
  };
  for (const Row& row : rows) {
    test::WriteFile(dir_ / "T.IDX", "old index");
    EXPECT_EQ(Build(test::NumberTextLayout(kFlagBackward), row.data), row.expected) << row.name;
    EXPECT_EQ(test::ReadFile(dir_.path() / "T.IDX"), "old index") << row.name;
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "T.IDX$P$", ec)) << row.name;
  }
  EXPECT_EQ(BuildIndex(dir_ / "NONE.STR", dir_ / "T.DAT", dir_ / "T.IDX"), IndexResult::kNoStructure);
  EXPECT_EQ(BuildIndex(dir_ / "T.STR", dir_ / "NONE.DAT", dir_ / "T.IDX"), IndexResult::kDataUnreadable);
  test::WriteFile(dir_ / "T.DAT", good);
  EXPECT_EQ(BuildIndex(dir_ / "T.STR", dir_ / "T.DAT", dir_ / "NODIR/T.IDX"), IndexResult::kIndexUnwritable);
  // An entry length without key bytes cannot be indexed.
  test::StructureLayout keyless = test::NumberTextLayout(0);
  keyless.entry_length = 4;
  test::WriteFile(dir_ / "K.STR", test::StructureBytes(keyless));
  EXPECT_EQ(BuildIndex(dir_ / "K.STR", dir_ / "T.DAT", dir_ / "T.IDX"), IndexResult::kNoStructure);
}

TEST_F(IndexBuilderTest, EmptyDataGivesIndexesThatFindNothing) {
  for (const std::uint32_t flags : {kFlagNearest, kFlagNearest | kFlagTree}) {
    ASSERT_EQ(Build(test::NumberTextLayout(flags), ""), IndexResult::kOk);
    FDT fdt;
    Open(fdt);
    const std::string key = Le32(1);
    EXPECT_FALSE(fdt.Search(key.data(), 4)) << flags;
  }
}

}  // namespace
}  // namespace veupd::fdt
