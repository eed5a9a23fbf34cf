// FDT on table files built byte by byte, damaged ones included; the index builder against the reader; the
// message dictionary on tables in two languages.
#include "tables/fdt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <thread>
#include <tuple>
#include <utility>

#include "platform/fault_injection.h"
#include "tables/fdt_index_builder.h"
#include "tables/fdt_test_tables.h"
#include "tables/message_dictionary.h"
#include "test_support.h"
#include "win32_boxes.h"

namespace veupd {
namespace {

using namespace test;  // NOLINT: the table builders
using namespace fdt;   // NOLINT

std::string Key(std::uint32_t number) { return Le32(number); }
// Three records keyed 10, 20, 30 with texts; offsets 0, 10, 20.
const std::string kThree = Record(Key(10) + Var8("ten")) + Record(Key(20) + Var8("two")) + Record(Key(30) + Var8("thr"));
const std::string kList = ListIndex({{Key(10), 0}, {Key(20), 10}, {Key(30), 20}});
// Root 20, then 10 and 30: as level-1 blocks of one entry or as one block.
const std::string kTreeBody = Key(20) + Le32(10) + Key(10) + Le32(0) + Key(30) + Le32(20);
constexpr std::uint32_t kBack = kFlagBackward, kNear = kFlagBackward | kFlagNearest, kTree = kFlagTree;

// A tree index header; every level's first block at the same offset.
std::string TreeHeader(std::uint16_t entry, std::uint16_t steps, std::uint16_t levels, std::uint16_t block,
                       std::uint16_t start_step = 0, std::uint16_t start_pos = 0, std::uint32_t first = 100) {
  std::string h(100, '\0');
  h.replace(2, 2, Le16(entry)).replace(8, 2, Le16(steps)).replace(12, 2, Le16(levels)).replace(14, 2, Le16(block));
  h.replace(16, 2, Le16(start_step)).replace(18, 2, Le16(start_pos));
  for (int l = 0; l < 20; ++l) h.replace(20 + 4 * l, 4, Le32(first));
  return h;
}

class FdtTest : public ::testing::Test {
 protected:
  // Writes and loads the structure only.
  bool Structure(const StructureLayout& layout, FDT& fdt) {
    WriteFile(dir_ / "T.STR", StructureBytes(layout));
    std::string d, i;
    return fdt.NewStru(dir_ / "T.STR", d, i);
  }
  // Writes structure, data and index; loads the structure and opens both.
  void Load(const StructureLayout& layout, const std::string& data, const std::string& index) {
    fdt_.FreeStru();  // Windows refuses to rewrite an index the last load holds open
    WriteFile(dir_ / "T.IDX", index);
    ASSERT_EQ(Build(layout, data, false), IndexResult::kOk);
  }
  // Writes structure and data and builds the index (or not); opens them.
  IndexResult Build(const StructureLayout& layout, const std::string& data, bool build = true) {
    fdt_.FreeStru();
    WriteFile(dir_ / "T.DAT", data);
    if (!Structure(layout, fdt_)) return IndexResult::kNoStructure;
    const IndexResult result = build ? BuildIndex(dir_ / "T.STR", dir_ / "T.DAT", dir_ / "T.IDX") : IndexResult::kOk;
    if (result == IndexResult::kOk && !(fdt_.SetFiles(dir_ / "T.DAT", dir_ / "T.IDX") && fdt_.OpenFiles(kOpenAll))) {
      ADD_FAILURE() << "files not opened";
    }
    return result;
  }
  // Offset found for a u32 key, or -1.
  std::int64_t Find(std::uint32_t number) {
    const std::string key = Key(number);
    return fdt_.Search(key.data(), 4) ? fdt_.DataPosition() : -1;
  }
  // Successive GetField results joined by '|', from the position given or the current one.
  std::string Get(std::initializer_list<std::int16_t> fields, std::int32_t from = -1) {
    if (from >= 0) fdt_.SetDataPosition(from);
    std::string got;
    for (const std::int16_t f : fields) got += "|" + std::string(fdt_.GetField(f));
    return got.substr(1);
  }

  TempDir dir_;
  FDT fdt_;
};

TEST_F(FdtTest, RecordLengthAndMemberKindsFollowTheStructure) {
  const FieldLayout a{"AF", 3, 1, kSingle, 0, kFixed, ""}, one{"A1", 1, 1, 3, 0, kFixed, ""};
  const struct {
    const char* name;
    std::uint32_t flags;
    std::vector<FieldLayout> fields;
    std::uint16_t expected;
  } rows[] = {
      {"16-bit prefix", 0, {{"AA", 300, 1, kSingle, 0, kType6, ""}}, 302},
      {"list16 with prefix", 0, {{"AA", 5, 4, kList16, 0, 0, ""}}, 4 * 5 + 2 + 1},
      {"group counts members once", 0,
       {{"GR", 0, 2, kGroup, 2, 0, ""}, {"M1", 5, 1, kSingle, 0, 0, ""}, {"M2", 2, 1, kSingle, 0, kFixed, ""}, a},
       1 + 2 * (6 + 2) + 3},
      {"group members cut at the end", 0, {{"GR", 0, 3, kGroup, 9, 0, ""}, {"M1", 4, 1, 3, 0, kFixed, ""}}, 1 + 3 * 4},
      {"unknown kind adds only its prefix", 0, {{"UK", 50, 1, 7, 0, 0, ""}}, 1},
      // Nine top-level entries (the group and its member count once): 9 / 8 + 2.
      {"bitmap bytes", fdt::kFlagBitmap,
       {one, one, one, one, one, one, one, {"GR", 0, 1, kGroup, 1, 0, ""}, one, one},
       7 + (1 + 1) + 1 + 9 / 8 + 2},
  };
  for (const auto& row : rows) {
    FDT fdt;
    ASSERT_TRUE(Structure(Layout(row.flags, row.fields), fdt)) << row.name;
    EXPECT_EQ(fdt.MaxRecordLength(), row.expected) << row.name;
  }
  const auto group = Layout(0, {{"GR", 0, 2, kGroup, 3, 0, ""}, {"M1", 1, 2, kList8, 0, 0, ""},
                                {"M2", 1, 1, kSingle, 0, 0, ""}, {"M3", 1, 2, kList16, 0, 0, ""},
                                {"AF", 1, 1, kSingle, 0, 0, ""}});
  ASSERT_TRUE(Structure(group, fdt_));
  const std::uint16_t kinds[] = {10, 11, 12, 3};
  for (int f = 1; f <= 4; ++f) EXPECT_EQ(fdt_.Field(f).kind, kinds[f - 1]) << f;
}

// Both index forms, with and without the nearest flag; damaged indexes end as not found.
TEST_F(FdtTest, SearchFindsKeysNearestGreaterAndSurvivesBadIndexes) {
  const std::string two_level = TreeHeader(8, 1, 2, 8).replace(24, 4, Le32(108)) + kTreeBody;
  const std::string one_block = TreeHeader(8, 2, 1, 24) + kTreeBody;
  const struct {
    const char* name;
    std::uint32_t flags;
    std::string index;
    std::vector<std::pair<std::uint32_t, std::int64_t>> finds;
  } rows[] = {
      {"list", kBack, kList, {{10, 0}, {20, 10}, {30, 20}, {15, -1}, {31, -1}}},
      {"list, nearest", kNear, kList, {{15, 10}, {1, 0}, {31, -1}}},
      {"tree", kBack | kTree, two_level, {{10, 0}, {20, 10}, {30, 20}, {15, -1}, {25, -1}, {5, -1}, {35, -1}}},
      {"tree, nearest", kNear | kTree, two_level, {{10, 0}, {20, 10}, {30, 20}, {15, 10}, {25, 20}, {5, 0}, {35, -1}}},
      {"one block", kBack | kTree, one_block, {{10, 0}, {20, 10}, {30, 20}, {15, -1}, {25, -1}, {5, -1}, {35, -1}}},
      {"one block, nearest", kNear | kTree, one_block, {{10, 0}, {30, 20}, {15, 10}, {25, 20}, {5, 0}, {35, -1}}},
      {"empty list", kNear, "", {{10, -1}}},
      {"odd list length keeps whole entries", kNear, kList + "abc", {{30, 20}}},
      {"list shorter than one entry", kNear, "abc", {{10, -1}}},
      {"tree header cut", kNear | kTree, TreeHeader(8, 2, 1, 24).substr(0, 60), {{25, -1}}},
      {"block size 0", kNear | kTree, TreeHeader(8, 2, 1, 0) + kTreeBody, {{25, -1}}},
      {"1000 levels", kNear | kTree, TreeHeader(8, 2, 1000, 24) + kTreeBody, {{25, -1}}},
      {"block past the end", kNear | kTree, TreeHeader(8, 2, 1, 24, 0, 0, 90000) + kTreeBody, {{25, -1}}},
      {"entry length 0", kNear | kTree, TreeHeader(0, 2, 1, 24) + kTreeBody, {{25, -1}}},
      {"entry length 4", kNear | kTree, TreeHeader(4, 2, 1, 24) + kTreeBody, {{25, -1}}},
      {"steps beyond the block", kNear | kTree, TreeHeader(8, 60000, 1, 24) + kTreeBody, {{25, -1}}},
      {"start step at the end", kNear | kTree, TreeHeader(8, 2, 1, 24, 2) + kTreeBody, {{25, -1}}},
      {"start position past the block", kNear | kTree, TreeHeader(8, 2, 1, 24, 0, 40) + kTreeBody, {{25, -1}}},
      {"20 levels of the same block", kNear | kTree, TreeHeader(8, 1, 20, 24) + kTreeBody, {{25, -1}}},
  };
  for (const auto& row : rows) {
    Load(NumberTextLayout(row.flags), kThree, row.index);
    for (const auto& [key, offset] : row.finds) EXPECT_EQ(Find(key), offset) << row.name << ", key " << key;
  }
}

TEST_F(FdtTest, GetFieldReadsConsecutiveRecordsListsAndTheBitmap) {
  Load(NumberTextLayout(kBack), kThree, kList);
  EXPECT_FALSE(fdt_.Search(Key(20).data(), 0));  // no key bytes, no key
  EXPECT_FALSE(fdt_.Search(nullptr, 4));
  ASSERT_EQ(Find(20), 10);
  EXPECT_EQ(Get({1, 1, 1}), "two|thr|");  // then the end of the file
  // A fixed single is skipped and gives the empty text, as does a field that does not exist.
  ASSERT_EQ(Find(10), 0);
  EXPECT_EQ(Get({0, 1, 5}), "|two|");

  const FieldLayout nr{"NR", 4, 1, kSingle, 0, kFixed, ""}, after{"AF", 9, 1, kSingle, 0, 0, ""};
  // Record 1: NR and T2 present (bits 101). Record 2: NR only (100).
  Load(Layout(kFlagBitmap, {nr, {"T1", 20, 1, kSingle, 0, 0, ""}, {"T2", 20, 1, kSingle, 0, 0, ""}}),
       Record("\x01\xA0" + Key(1) + Var8("second")) + Record("\x01\x80" + Key(2)), "");
  EXPECT_EQ(Get({1}), "");                // T1 absent
  EXPECT_EQ(Get({2, 2}, 0), "second|");  // absent in record 2

  // Lists go into the node chain.
  const StructureLayout lists =
      Layout(0, {nr, {"L8", 5, 3, kList8, 0, 0, ""}, {"L6", 300, 2, kList16, 0, kType6, ""}, after});
  const std::string l8 = "\x02" + Var8("ab") + Var8("cde"), l6 = Le16(1) + Le16(3) + "xyz";
  const std::string over = "\x04" + Var8("a") + Var8("b") + Var8("c") + Var8("d");
  Load(lists, Record(Key(1) + l8 + l6 + Var8("after")) + Record(Key(2) + over + Le16(0) + Var8("z")), "");
  const auto list = [&](std::int16_t field, std::int32_t from) {  // the text, then the elements
    std::string got = Get({field}, from) + ":";
    for (std::uint32_t i = 0; i < fdt_.ListCount(); ++i) got += std::string(fdt_.ListElement(i)) + "|";
    return got;
  };
  EXPECT_EQ(list(1, 0), ":ab|cde|");
  EXPECT_EQ(fdt_.ListElementLength(1), 3);
  EXPECT_EQ(list(2, 0), ":xyz|");
  EXPECT_EQ(Get({3}, 0), "after");  // found behind both lists
  // Record 2 (at 27): four elements where three are allowed are rejected; the field behind is still reached.
  EXPECT_EQ(list(1, -1), ":");
  EXPECT_EQ(Get({3}, 27), "z");
  // Fields behind a present group are not guessed.
  Load(Layout(0, {{"GR", 0, 2, kGroup, 1, 0, ""}, {"M1", 3, 1, kSingle, 0, kFixed, ""}, after}),
       Record("\x01" "abc" + Var8("after")), "");
  EXPECT_EQ(Get({2}), "");
  EXPECT_EQ(Get({0}, 0), "");
}

TEST_F(FdtTest, BadStructuresFailToLoadAndDamagedRecordsGiveTheEmptyText) {
  const std::string good = StructureBytes(NumberTextLayout(0));
  StructureLayout deep;  // each group holds everything after it
  for (int i = 0; i < 12; ++i) deep.fields.push_back({"G" + std::to_string(i % 10), 0, 2, kGroup, std::uint16_t(12 - i), 0, ""});
  deep.fields.push_back({"MM", 1, 1, kSingle, 0, 0, ""});
  const std::pair<const char*, std::string> structures[] = {
      {"empty", ""}, {"one byte", "\x28"}, {"header cut", good.substr(0, 30)},
      {"L below 40", std::string(good).replace(0, 2, Le16(39))},
      {"negative F", std::string(good).replace(4, 2, Le16(0x8001))},
      {"descriptors past the end", std::string(good).replace(4, 2, Le16(0x7FFF))},
      {"descriptors cut", good.substr(0, 42 + 20)}, {"no auxiliary block", good.substr(0, 42 + 26)},
      {"groups nested too deep", StructureBytes(deep)}};
  for (const auto& [name, bytes] : structures) {
    WriteFile(dir_ / "B.STR", bytes);
    FDT fdt;
    std::string d = "x", i = "y";
    EXPECT_FALSE(fdt.NewStru(dir_ / "B.STR", d, i)) << name;
    EXPECT_EQ(d + i, "") << name;
    EXPECT_EQ(fdt.FieldCount(), 0) << name;
    EXPECT_STREQ(fdt.GetField(0), "") << name;
  }
  std::string d, i;
  EXPECT_FALSE(fdt_.NewStru(dir_ / "MISSING.STR", d, i));
  // Descriptions past the end leave the structure usable.
  WriteFile(dir_ / "T.STR", good.substr(0, good.size() - 3));
  ASSERT_TRUE(fdt_.NewStru(dir_ / "T.STR", d, i));
  EXPECT_EQ(fdt_.Descriptions(), (std::vector<std::string>{"number", ""}));
  EXPECT_EQ(fdt_.FieldNames(), "NR|D0");

  const struct {
    const char* name;
    std::string data;
    std::int32_t position_after;
  } records[] = {{"longer than the maximum", Le16(256) + std::string(256, 'a'), 0},
                 {"cut short", Le16(20) + Key(1) + Var8("abc"), 10},
                 {"value past the record", Record(Key(1) + "\x09" "abc"), 10},
                 {"one byte file", "\x05", 0}};
  for (const auto& row : records) {
    Load(NumberTextLayout(0), row.data, "");
    EXPECT_STREQ(fdt_.GetField(1), "") << row.name;
    EXPECT_EQ(fdt_.DataPosition(), row.position_after) << row.name;
  }
}

TEST_F(FdtTest, FilesAreChangedClosedAndReopened) {
  Load(NumberTextLayout(kBack), kThree, ListIndex({{Key(10), 0}}));
  // A missing file keeps the old pair; nothing given changes nothing.
  EXPECT_FALSE(fdt_.SetFiles(dir_ / "T.DAT", dir_ / "NONE.IDX"));
  EXPECT_EQ(fdt_.IndexPath(), dir_ / "T.IDX");
  EXPECT_EQ(fdt_.DataLength(), 30u);
  EXPECT_TRUE(fdt_.SetFiles("", ""));
  EXPECT_EQ(fdt_.DataPath(), dir_ / "T.DAT");
  EXPECT_FALSE(FDT().SetFiles(dir_ / "T.DAT", ""));  // needs a structure
  // Closing keeps the position.
  EXPECT_STREQ(fdt_.GetField(1), "ten");
  EXPECT_TRUE(fdt_.CloseFiles(fdt::kOpenAll));
  EXPECT_EQ(fdt_.OpenFlags(), 0u);
  EXPECT_STREQ(fdt_.GetField(1), "");
  ASSERT_TRUE(fdt_.OpenFiles(fdt::kOpenAll));
  EXPECT_STREQ(fdt_.GetField(1), "two");
  // A failed change closes the files; a good one reopens on the new pair.
  WriteFile(dir_ / "U.DAT", Record(Key(7) + Var8("seven")));
  WriteFile(dir_ / "U.IDX", ListIndex({{Key(7), 0}}));
  EXPECT_FALSE(fdt_.ChangeFiles((dir_ / "U.DAT").c_str(), (dir_ / "NONE.IDX").c_str(), 0));
  EXPECT_EQ(fdt_.OpenFlags(), 0u);
  ASSERT_TRUE(fdt_.OpenFiles(fdt::kOpenAll));
  EXPECT_TRUE(fdt_.ChangeFiles((dir_ / "U.DAT").c_str(), (dir_ / "U.IDX").c_str(), 0));
  EXPECT_EQ(fdt_.OpenFlags(), fdt::kOpenData | fdt::kOpenIndex);
  EXPECT_EQ(Find(7), 0);
  EXPECT_STREQ(fdt_.GetField(1), "seven");
  // Opening fails without its files.
  ASSERT_TRUE(fdt_.CloseFiles(fdt::kOpenAll));
  std::filesystem::remove(dir_.path() / "U.IDX");
  EXPECT_FALSE(fdt_.OpenFiles(fdt::kOpenAll));
  EXPECT_EQ(fdt_.OpenFlags(), 0u);
}

// E = 1000 gives blocks of 3 entries (2 steps), so 2000 keys need 6 levels;
// one-byte keys repeat. Forward comparison: the first bytes decide.
TEST_F(FdtTest, WideAndNarrowEntriesMakeDeepAndShallowTrees) {
  for (const auto& [entry_length, count] : {std::pair<std::uint16_t, std::size_t>{1000, 2000}, {5, 3000}}) {
    const std::size_t key_length = entry_length - 4u;
    const auto key_width = static_cast<std::uint16_t>(key_length);
    auto layout = Layout(kFlagTree, {{"KY", key_width, 1, kSingle, 0, kFixed, ""}, {"TX", 20, 1, kSingle, 0, 0, ""}});
    layout.entry_length = entry_length;
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
    for (const auto& [key, text] : keys) {
      ASSERT_TRUE(fdt_.Search(key.data(), static_cast<std::int16_t>(key_length))) << entry_length;
      ASSERT_EQ(std::string(fdt_.GetField(1)), text) << entry_length;
    }
  }
}

// The packed sort against a stable sort under the table's comparison: every key length that packs, both
// directions, keys from a few values to the whole 32-bit range (one to three passes per bucket), in order
// or all but the last, and outliers that leave almost every key in one top bucket.
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
    // Each entry: the value's low key-length bytes, then its offset.
    const auto bytes = [](const std::string& entry) { return reinterpret_cast<const std::uint8_t*>(entry.data()); };
    std::vector<std::string> want;
    IndexEntries entries;
    entries.Reset(kl + 4, c.backward);
    for (std::size_t i = 0; i < kCount; ++i) {
      want.push_back(Le32(values[i]).substr(0, kl) + Le32(static_cast<std::uint32_t>(i * 10)));
      entries.Add(bytes(want.back()), static_cast<std::uint32_t>(i * 10));
    }
    entries.Sort();
    std::stable_sort(want.begin(), want.end(), [&](const std::string& a, const std::string& b) {
      return (c.backward ? CompareBackward : CompareForward)(bytes(a), bytes(b), kl) < 0;
    });
    ASSERT_EQ(entries.Count(), kCount);
    std::string got(kl + 4, '\0');
    for (std::size_t i = 0; i < kCount; ++i) {
      entries.CopyEntry(i, reinterpret_cast<std::uint8_t*>(got.data()));
      ASSERT_EQ(got, want[i]) << "key length " << kl << (c.backward ? " backward" : " forward") << ", entry " << i;
    }
  }
}

TEST_F(FdtTest, TreeLayoutFitsBlocksAndLevelsAndKeysArePadded) {
  TreeLayout layout;
  ASSERT_TRUE(PlanTree(100000, 8, layout));
  // 511 entries of 8 bytes fill 4088 bytes in 9 steps; 2^17 - 1 >= 100,000 in
  // two levels, the first block holding 8 of the 9 steps.
  EXPECT_EQ(std::tuple(layout.steps, layout.block_size, layout.depth, layout.levels, layout.start_step, layout.file_size),
            std::tuple(9u, 4088u, 17u, 2u, 1u, std::uint64_t{100 + 4088 * (1 + 256)}));
  ASSERT_TRUE(PlanTree(0, 8, layout));
  EXPECT_EQ(layout.levels, 0u);
  // One entry per block and 20 levels reach at most 2^20 - 1 entries.
  EXPECT_TRUE(PlanTree((1u << 20) - 1, 3000, layout));
  EXPECT_FALSE(PlanTree(1u << 20, 3000, layout));
  EXPECT_FALSE(PlanTree((1u << 20) - 1, 5000, layout));  // past 32-bit offsets
  EXPECT_FALSE(PlanTree(10, 4, layout));

  // Keys come after the bitmap and are padded.
  const auto bitmap = Layout(kFlagBitmap, {{"KY", 4, 1, kSingle, 0, kFixed, ""}, {"TX", 9, 1, kSingle, 0, 0, ""}});
  ASSERT_EQ(Build(bitmap, Record("\x01\xC0" "zzzz" + Var8("x")) + Record("\x01\x80" "ab")), IndexResult::kOk);
  EXPECT_EQ(ReadFile(dir_.path() / "T.IDX"), std::string("ab\0\0", 4) + Le32(10) + "zzzz" + Le32(0));
}

// Where no view of the data file can be made (always on Windows), the file is
// read in pieces, records running across them: the same entries, the same end.
TEST_F(FdtTest, ReadingTheDataCollectsWhatAViewDoes) {
  std::string data;
  for (std::uint32_t i = 0; i < 5000; ++i) data += Record(Key(i * 7919 % 5000) + Var8(std::string(i % 100, 'x')));
  for (const auto& [tail, result] : {std::pair<std::string, IndexResult>{"", IndexResult::kOk},
                                     {Le16(20) + "abc", IndexResult::kDataDamaged}}) {
    WriteFile(dir_ / "T.DAT", data + tail);
    const IndexParams params{8, kBack, 300};
    IndexEntries viewed, read;
    ASSERT_EQ(CollectEntries(dir_ / "T.DAT", params, viewed), result);
    os::fault::FaultScope faults;
    faults.FailCall(os::fault::Call::kRead, 1);  // the view is refused
    ASSERT_EQ(CollectEntries(dir_ / "T.DAT", params, read), result);
    EXPECT_TRUE(faults.Fired());
    ASSERT_EQ(read.Count(), viewed.Count());
    std::string a(8, '\0'), b(8, '\0');
    for (std::size_t i = 0; i < read.Count(); ++i) {
      viewed.CopyEntry(i, reinterpret_cast<std::uint8_t*>(a.data()));
      read.CopyEntry(i, reinterpret_cast<std::uint8_t*>(b.data()));
      ASSERT_EQ(a, b) << i;
    }
  }
}

TEST_F(FdtTest, FailuresLeaveTheIndexAloneAndEmptyDataFindsNothing) {
  const std::string good = Record(Le32(2) + Var8("a"));
  const std::pair<const char*, std::string> damaged[] = {{"record past the end", good + Le16(20) + "abc"},
                                                         {"half a length word", good + "\x05"},
                                                         {"record above the maximum", good + Le16(300) + std::string(300, 'x')}};
  for (const auto& [name, data] : damaged) {
    WriteFile(dir_ / "T.IDX", "old index");
    EXPECT_EQ(Build(NumberTextLayout(kFlagBackward), data), IndexResult::kDataDamaged) << name;
    EXPECT_EQ(ReadFile(dir_.path() / "T.IDX"), "old index") << name;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "T.IDX$P$")) << name;
  }
  EXPECT_EQ(BuildIndex(dir_ / "NONE.STR", dir_ / "T.DAT", dir_ / "T.IDX"), IndexResult::kNoStructure);
  EXPECT_EQ(BuildIndex(dir_ / "T.STR", dir_ / "NONE.DAT", dir_ / "T.IDX"), IndexResult::kDataUnreadable);
  WriteFile(dir_ / "T.DAT", good);
  EXPECT_EQ(BuildIndex(dir_ / "T.STR", dir_ / "T.DAT", dir_ / "NODIR/T.IDX"), IndexResult::kIndexUnwritable);
  // An entry length without key bytes cannot be indexed.
  StructureLayout keyless = NumberTextLayout(0);
  keyless.entry_length = 4;
  WriteFile(dir_ / "K.STR", StructureBytes(keyless));
  EXPECT_EQ(BuildIndex(dir_ / "K.STR", dir_ / "T.DAT", dir_ / "T.IDX"), IndexResult::kNoStructure);

  for (const std::uint32_t flags : {kFlagNearest, kFlagNearest | kFlagTree}) {
    ASSERT_EQ(Build(NumberTextLayout(flags), ""), IndexResult::kOk);
    EXPECT_FALSE(fdt_.Search(Le32(1).data(), 4)) << flags;
  }
}

// Records in number order with their list index (offsets by hand).
void WriteLanguage(const std::string& stem, const std::vector<std::pair<std::uint32_t, std::string>>& texts) {
  std::string data, index;
  for (const auto& [number, text] : texts) {
    index += Le32(number) + Le32(static_cast<std::uint32_t>(data.size()));
    data += Record(Le32(number) + Var8(text) + std::string(1, '\0'));
  }
  WriteFile(stem + ".DAT", data);
  WriteFile(stem + ".IDX", index);
}

TEST(DictionaryTest, OpenFindsTextsByNumberInEitherLanguageUnderPathsAndFieldsGiven) {
  TempDir dir;
  StructureLayout layout = NumberTextLayout(fdt::kFlagBackward);
  layout.data_name = "MSG@@.DAT";
  layout.index_name = "MSG@@.IDX";
  layout.fields.push_back({"LS", 5, 2, kList8, 0, 0, ""});
  WriteFile(dir / "MSG.STR", StructureBytes(layout));
  WriteLanguage(dir / "MSGE", {{118, "Update"}, {3671, "Copying"}, {4860, "Done"}});
  WriteLanguage(dir / "MSGD", {{118, "Aktualisierung"}, {4860, "Fertig"}});
  WriteLanguage(dir / "other/MSGE", {{70, "moved"}});
  WriteLanguage(dir / "other/XE", {{70, "full"}});
  const std::string structure = dir / "MSG.STR", other = dir / "other";
  TDM_FdtTessel messages{nullptr, nullptr, "D0"};
  // Opens MSG.STR with the file arguments given ("" for none): the texts of 118 and 70, or "failed".
  const auto open = [&](const char* language, const char* field, const std::string& data = "",
                        const std::string& index = "") -> std::string {
    const auto arg = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    if (!messages.Open(structure.c_str(), language, field, arg(data), arg(index))) return "failed";
    return std::string(messages.GetText(118)) + "|" + messages.GetText(70);
  };
  EXPECT_STREQ(messages.GetText(118), "");
  EXPECT_FALSE(messages.Open((dir / "NONE.STR").c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_STREQ(messages.GetText(118), "");
  std::string out = "stale";
  EXPECT_FALSE(messages.GetText(118, out));
  EXPECT_EQ(out, "");
  // The pattern MSG@@ with the code E names MSGE.
  EXPECT_EQ(open("E", "D0"), "Update|");
  EXPECT_EQ(messages.GetLanguage(), "E");
  EXPECT_STREQ(messages.GetText(4860), "Done");
  EXPECT_STREQ(messages.GetText(119), "");
  EXPECT_TRUE(messages.GetText(3671, out));
  EXPECT_EQ(out, "Copying");
  EXPECT_FALSE(messages.GetText(4000, out));
  EXPECT_EQ(out, "");
  // Dropping the structure closes the dictionary; it can be opened again.
  static_cast<FDT&>(messages).FreeStru();
  EXPECT_FALSE(messages.IsOpen());
  EXPECT_STREQ(messages.GetText(118), "");
  EXPECT_EQ(open("E", "D0"), "Update|");
  // Languages switch, or keep the old pair.
  TDM_FdtTessel dictionary(structure.c_str(), "E", "D0");
  ASSERT_TRUE(dictionary.IsOpen());
  EXPECT_TRUE(dictionary.SetLanguage("D"));
  EXPECT_STREQ(dictionary.GetText(118), "Aktualisierung");
  EXPECT_STREQ(dictionary.GetText(3671), "");  // not translated
  // No files for "F": the German pair stays in force.
  EXPECT_FALSE(dictionary.SetLanguage("F"));
  EXPECT_EQ(dictionary.GetLanguage(), "D");
  EXPECT_STREQ(dictionary.GetText(4860), "Fertig");
  EXPECT_TRUE(dictionary.SetLanguage("D"));  // the current code: nothing to do
  // Without a language the arguments are full paths without '@'; an empty code is refused while none is set.
  EXPECT_EQ(open(nullptr, "D0", dir / "MSGE.DAT", dir / "MSGE.IDX"), "Update|");
  EXPECT_EQ(messages.GetLanguage(), "");
  EXPECT_FALSE(messages.SetLanguage(""));
  // A trailing separator names a directory: the header's file name follows.
  EXPECT_EQ(open("E", "D0", other + os::kNativeSeparator, other + os::kNativeSeparator), "|moved");
  EXPECT_EQ(open("E", "D0", other + "/X@.DAT", other + "/X@.IDX"), "|full");
  // A language needs '@' in both patterns.
  EXPECT_EQ(open("E", "D0", other + "/XE.DAT"), "failed");
  EXPECT_FALSE(messages.IsOpen());
  EXPECT_STREQ(messages.GetText(70), "");
  // The field must be a single value of the structure; a list field would hand out a count instead of a text.
  EXPECT_EQ(open("E", "XX"), "failed");
  EXPECT_FALSE(messages.IsOpen());
  EXPECT_EQ(open("E", "LS"), "failed");
  EXPECT_EQ(open("E", "D0"), "Update|");
  EXPECT_FALSE(messages.SelectField("LS"));
  EXPECT_STREQ(messages.GetText(118), "Update");  // the old field stays
}

TEST(FdtCallbackTest, NullTextAnswersOneAndAnInstalledObjectGetsTheCall) {
  struct Recorder : FDT {
    int CallbackFunc(std::uint32_t a, std::uint32_t b, const char* text) override {
      seen = std::to_string(a) + "," + std::to_string(b) + "," + (text ? text : "null");
      return 7;
    }
    std::string seen;
  } recorder;
  // Without a text the call answers 1 and shows nothing.
  EXPECT_EQ(FDT_CallbackFunc(1, 2, nullptr), 1);
  EXPECT_EQ(recorder.FDT::CallbackFunc(1, 2, nullptr), 1);
  SetFdtCallbackObject(&recorder);
  EXPECT_EQ(FDT_CallbackFunc(3, 4, "hi"), 7);
  SetFdtCallbackObject(nullptr);
  EXPECT_EQ(recorder.seen, "3,4,hi");
}

#ifdef _WIN32
// A module's message through the program: a real box with OK and Cancel and
// the stop icon; Cancel answers 0, OK 1.
TEST(FdtCallbackTest, BoxOffersOkAndCancelWithTheStopIcon) {
  for (const auto& [button, answered] : {std::pair{IDOK, 1}, {IDCANCEL, 0}}) {
    SCOPED_TRACE(button);
    std::optional<test::SeenBox> seen;
    std::thread answer([&, button = button] { seen = test::AnswerBox(button, 20000); });
    const int result = FDT_CallbackFunc(1, 2, "Index damaged");
    answer.join();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->text, "Index damaged");
    EXPECT_EQ(seen->buttons, (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(seen->icon, LoadIconA(nullptr, IDI_HAND));
    EXPECT_EQ(result, answered);
  }
}
#endif

}  // namespace
}  // namespace veupd
