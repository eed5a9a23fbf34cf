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

using test::Le32;
using test::Record;
using test::Var8;

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
  for (const std::size_t n : {1, 2, 3, 4, 7, 8, 15, 16, 100, 255, 256, 511, 512, 513, 1000, 4095, 4096, 100000}) {
    // Records keyed 2, 4, ..., 2n in shuffled file order.
    std::vector<std::uint32_t> keys(n);
    for (std::size_t i = 0; i < n; ++i) keys[i] = static_cast<std::uint32_t>(2 * (i + 1));
    std::mt19937 random(static_cast<std::uint32_t>(n));
    std::shuffle(keys.begin(), keys.end(), random);
    std::string data;
    for (const std::uint32_t key : keys) data += Record(Le32(key) + Var8("t" + std::to_string(key)));
    // The list form is a plain binary search, covered well below 100,000.
    for (const std::uint32_t form : n > 10000 ? std::vector<std::uint32_t>{kFlagTree} : std::vector<std::uint32_t>{0, kFlagTree}) {
      for (const std::uint32_t nearest : {0u, kFlagNearest}) {
        const std::string name = std::to_string(n) + (form ? " tree" : " list") + (nearest ? " nearest" : "");
        ASSERT_EQ(Build(test::NumberTextLayout(kFlagBackward | form | nearest), data), IndexResult::kOk) << name;
        FDT fdt;
        Open(fdt);
        std::size_t misses = 0;
        for (std::uint32_t key = 1; key <= 2 * n + 1; ++key) {
          const std::string bytes = Le32(key);
          const bool found = fdt.Search(bytes.data(), 4);
          // Even keys exist; odd ones lie between (or below, or beyond all).
          const bool expect_found = key % 2 == 0 || (nearest && key < 2 * n + 1);
          const std::string expect_text = expect_found ? "t" + std::to_string(key + key % 2) : "";
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

// E = 1000 gives blocks of 3 entries (2 steps), so 2000 keys need 6 levels;
// one-byte keys repeat. Forward comparison: the first bytes decide.
TEST_F(IndexBuilderTest, WideAndNarrowEntriesMakeDeepAndShallowTrees) {
  for (const auto& [entry_length, count] : {std::pair<std::uint16_t, std::size_t>{1000, 2000}, {5, 3000}}) {
    const std::size_t key_length = entry_length - 4u;
    test::StructureLayout layout;
    layout.entry_length = entry_length;
    layout.flags = kFlagTree;
    layout.fields = {{"KY", static_cast<std::uint16_t>(key_length), 1, test::kSingle, 0, test::kFixed, ""},
                     {"TX", 20, 1, test::kSingle, 0, 0, ""}};
    std::vector<std::pair<std::string, std::string>> keys;  // key, text
    std::string data;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string digits = std::to_string((i * 7919) % (key_length == 1 ? 256 : 100000));
      std::string key(key_length, '\0');
      if (key_length == 1) key[0] = static_cast<char>(std::stoi(digits));
      else key.replace(0, digits.size(), digits);
      keys.emplace_back(key, digits);
      data += Record(key + Var8(digits));
    }
    ASSERT_EQ(Build(layout, data), IndexResult::kOk) << entry_length;
    FDT fdt;
    Open(fdt);
    for (const auto& [key, text] : keys) {
      ASSERT_TRUE(fdt.Search(key.data(), static_cast<std::int16_t>(key_length))) << entry_length;
      ASSERT_EQ(std::string(fdt.GetField(1)), text) << entry_length;
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
  constexpr std::size_t kCount = 20000;
  for (const Case& c : cases) {
    const std::size_t kl = c.key_length;
    std::mt19937 random(static_cast<std::uint32_t>(kl * 31 + c.range));
    std::vector<std::uint32_t> values(kCount);
    for (std::size_t i = 0; i < kCount; ++i) {
      const bool outlier = c.outlier_every != 0 && i % c.outlier_every == 0;
      values[i] = c.range == 0 || outlier ? static_cast<std::uint32_t>(random()) : static_cast<std::uint32_t>(random() % c.range);
    }
    if (c.order != 0) std::sort(values.begin(), values.end() - (c.order == 2 ? 1 : 0));
    std::vector<std::uint8_t> keys(kCount * kl);
    for (std::size_t i = 0; i < kCount * kl; ++i) keys[i] = static_cast<std::uint8_t>(values[i / kl] >> (8 * (i % kl)));
    IndexEntries entries;
    entries.Reset(kl + 4, c.backward);
    for (std::size_t i = 0; i < kCount; ++i) entries.Add(&keys[i * kl], static_cast<std::uint32_t>(i * 10));
    entries.Sort();

    std::vector<std::size_t> order(kCount);
    for (std::size_t i = 0; i < kCount; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return (c.backward ? CompareBackward : CompareForward)(&keys[a * kl], &keys[b * kl], kl) < 0;
    });
    ASSERT_EQ(entries.Count(), kCount);
    std::string got(kl + 4, '\0');
    for (std::size_t i = 0; i < kCount; ++i) {
      entries.CopyEntry(i, reinterpret_cast<std::uint8_t*>(got.data()));
      const std::string want(reinterpret_cast<const char*>(&keys[order[i] * kl]), kl);
      ASSERT_EQ(got, want + Le32(static_cast<std::uint32_t>(order[i] * 10)))
          << "key length " << kl << (c.backward ? " backward" : " forward") << ", entry " << i;
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
  layout.flags = kFlagBitmap;
  layout.fields = {{"KY", 4, 1, test::kSingle, 0, test::kFixed, ""}, {"TX", 9, 1, test::kSingle, 0, 0, ""}};
  ASSERT_EQ(Build(layout, Record("\x01\xC0" "zzzz" + Var8("x")) + Record("\x01\x80" "ab")), IndexResult::kOk);
  EXPECT_EQ(test::ReadFile(dir_.path() / "T.IDX"), std::string("ab\0\0", 4) + Le32(10) + "zzzz" + Le32(0));
}

TEST_F(IndexBuilderTest, FailuresLeaveTheIndexAloneAndEmptyDataFindsNothing) {
  const std::string good = Record(Le32(2) + Var8("a"));
  const std::pair<const char*, std::string> damaged[] = {{"record past the end", good + test::Le16(20) + "abc"},
                                                         {"half a length word", good + "\x05"},
                                                         {"record above the maximum", good + test::Le16(300) + std::string(300, 'x')}};
  for (const auto& [name, data] : damaged) {
    test::WriteFile(dir_ / "T.IDX", "old index");
    EXPECT_EQ(Build(test::NumberTextLayout(kFlagBackward), data), IndexResult::kDataDamaged) << name;
    EXPECT_EQ(test::ReadFile(dir_.path() / "T.IDX"), "old index") << name;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "T.IDX$P$")) << name;
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

  for (const std::uint32_t flags : {kFlagNearest, kFlagNearest | kFlagTree}) {
    ASSERT_EQ(Build(test::NumberTextLayout(flags), ""), IndexResult::kOk);
    FDT fdt;
    Open(fdt);
    EXPECT_FALSE(fdt.Search(Le32(1).data(), 4)) << flags;
  }
}

}  // namespace
}  // namespace veupd::fdt
