// FDT against table files built byte by byte: structure loading, both index
// forms, record decoding, and damaged input of every kind.
#include "tables/fdt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <thread>

#include "tables/fdt_test_tables.h"
#include "test_support.h"
#include "win32_boxes.h"

namespace veupd {
namespace {

using test::FieldSpec;
using test::Le16;
using test::Le32;
using test::Record;
using test::StructureLayout;
using test::Var8;

std::string Key(std::uint32_t number) { return Le32(number); }

class FdtTest : public ::testing::Test {
 protected:
  // Writes structure, data and index; loads the structure and opens both.
  void Load(const StructureLayout& layout, const std::string& data, const std::string& index) {
    test::WriteFile(dir_ / "T.STR", test::StructureBytes(layout));
    test::WriteFile(dir_ / "T.DAT", data);
    test::WriteFile(dir_ / "T.IDX", index);
    std::string data_name, index_name;
    ASSERT_TRUE(fdt_.NewStru(dir_ / "T.STR", data_name, index_name));
    ASSERT_TRUE(fdt_.SetFiles(dir_ / "T.DAT", dir_ / "T.IDX"));
    ASSERT_TRUE(fdt_.OpenFiles(fdt::kOpenAll));
  }
  // Offset found for a u32 key, or -1.
  std::int64_t Find(std::uint32_t number) {
    const std::string key = Key(number);
    if (!fdt_.Search(key.data(), 4)) return -1;
    return fdt_.DataPosition();
  }

  test::TempDir dir_;
  FDT fdt_;
};

// Three records keyed 10, 20, 30 with texts; offsets 0, 10, 20.
std::string ThreeRecords() {
  return Record(Key(10) + Var8("ten")) + Record(Key(20) + Var8("two")) + Record(Key(30) + Var8("thr"));
}

// A tree index header: entry length, steps, levels, block size, start step
// and position, and the same first-block offset for every level.
std::string TreeHeader(std::uint16_t entry, std::uint16_t steps, std::uint16_t levels, std::uint16_t block,
                       std::uint16_t start_step, std::uint16_t start_pos, std::uint32_t first) {
  std::string h(100, '\0');
  h.replace(2, 2, Le16(entry));
  h.replace(8, 2, Le16(steps));
  h.replace(12, 2, Le16(levels));
  h.replace(14, 2, Le16(block));
  h.replace(16, 2, Le16(start_step));
  h.replace(18, 2, Le16(start_pos));
  for (int l = 0; l < 20; ++l) h.replace(20 + 4 * l, 4, Le32(first));
  return h;
}

TEST_F(FdtTest, RecordLengthFollowsTheSizingRules) {
  struct Row {
    const char* name;
    std::uint32_t flags;
    std::vector<FieldSpec> fields;
    std::uint16_t expected;
  };
  const std::vector<Row> rows = {
      {"16-bit prefix", 0, {{"AA", 300, 1, test::kSingle, 0, test::kType6, ""}}, 302},
      {"list16 with prefix", 0, {{"AA", 5, 4, test::kList16, 0, 0, ""}}, 4 * 5 + 2 + 1},
      {"group counts members once",
       0,
       {{"GR", 0, 2, test::kGroup, 2, 0, ""},
        {"M1", 5, 1, test::kSingle, 0, 0, ""},
        {"M2", 2, 1, test::kSingle, 0, test::kFixed, ""},
        {"AF", 3, 1, test::kSingle, 0, test::kFixed, ""}},
       1 + 2 * (6 + 2) + 3},
      {"group members cut at the end", 0, {{"GR", 0, 3, test::kGroup, 9, 0, ""}, {"M1", 4, 1, 3, 0, test::kFixed, ""}}, 1 + 3 * 4},
      {"unknown kind adds only its prefix", 0, {{"UK", 50, 1, 7, 0, 0, ""}}, 1},
      // Nine top-level entries (the group and its member count once): 9 / 8 + 2.
      {"bitmap bytes",
       fdt::kFlagBitmap,
       {{"A1", 1, 1, 3, 0, test::kFixed, ""}, {"A2", 1, 1, 3, 0, test::kFixed, ""},
        {"A3", 1, 1, 3, 0, test::kFixed, ""}, {"A4", 1, 1, 3, 0, test::kFixed, ""},
        {"A5", 1, 1, 3, 0, test::kFixed, ""}, {"A6", 1, 1, 3, 0, test::kFixed, ""},
        {"A7", 1, 1, 3, 0, test::kFixed, ""}, {"GR", 0, 1, test::kGroup, 1, 0, ""},
        {"M1", 1, 1, 3, 0, test::kFixed, ""}, {"A8", 1, 1, 3, 0, test::kFixed, ""}},
       7 + (1 + 1) + 1 + 9 / 8 + 2},
  };
  for (const Row& row : rows) {
    StructureLayout layout;
    layout.flags = row.flags;
    layout.fields = row.fields;
    test::WriteFile(dir_ / "R.STR", test::StructureBytes(layout));
    FDT fdt;
    std::string d, i;
    ASSERT_TRUE(fdt.NewStru(dir_ / "R.STR", d, i)) << row.name;
    EXPECT_EQ(fdt.MaxRecordLength(), row.expected) << row.name;
  }
}

TEST_F(FdtTest, GroupMembersGetMemberKinds) {
  StructureLayout layout;
  layout.fields = {{"GR", 0, 2, test::kGroup, 3, 0, ""}, {"M1", 1, 2, test::kList8, 0, 0, ""},
                 {"M2", 1, 1, test::kSingle, 0, 0, ""}, {"M3", 1, 2, test::kList16, 0, 0, ""},
                 {"AF", 1, 1, test::kSingle, 0, 0, ""}};
  test::WriteFile(dir_ / "T.STR", test::StructureBytes(layout));
  std::string d, i;
  ASSERT_TRUE(fdt_.NewStru(dir_ / "T.STR", d, i));
  EXPECT_EQ(fdt_.Field(1).kind, 10);
  EXPECT_EQ(fdt_.Field(2).kind, 11);
  EXPECT_EQ(fdt_.Field(3).kind, 12);
  EXPECT_EQ(fdt_.Field(4).kind, 3);
}

TEST_F(FdtTest, ListSearchFindsKeysAndNearestGreater) {
  const std::string index = test::ListIndex({{Key(10), 0}, {Key(20), 10}, {Key(30), 20}});
  struct Row {
    const char* name;
    std::uint32_t flags;
    std::uint32_t key;
    std::int64_t offset;
  };
  const std::vector<Row> rows = {
      {"first", fdt::kFlagBackward, 10, 0},
      {"middle", fdt::kFlagBackward, 20, 10},
      {"last", fdt::kFlagBackward, 30, 20},
      {"between", fdt::kFlagBackward, 15, -1},
      {"above", fdt::kFlagBackward, 31, -1},
      {"between, nearest", fdt::kFlagBackward | fdt::kFlagNearest, 15, 10},
      {"below all, nearest", fdt::kFlagBackward | fdt::kFlagNearest, 1, 0},
      {"above all, nearest", fdt::kFlagBackward | fdt::kFlagNearest, 31, -1},
  };
  for (const Row& row : rows) {
    fdt_.FreeStru();
    Load(test::NumberTextLayout(row.flags), ThreeRecords(), index);
    EXPECT_EQ(Find(row.key), row.offset) << row.name;
  }
}

TEST_F(FdtTest, SearchComparesOnlyTheGivenKeyLength) {
  Load(test::NumberTextLayout(fdt::kFlagBackward), ThreeRecords(),
       test::ListIndex({{Key(10), 0}, {Key(20), 10}, {Key(30), 20}}));
  const std::string key = Key(20);
  EXPECT_TRUE(fdt_.Search(key.data(), 4));
  EXPECT_FALSE(fdt_.Search(key.data(), 0));
  EXPECT_FALSE(fdt_.Search(nullptr, 4));
}

TEST_F(FdtTest, GetFieldReadsConsecutiveRecords) {
  Load(test::NumberTextLayout(fdt::kFlagBackward), ThreeRecords(),
       test::ListIndex({{Key(10), 0}, {Key(20), 10}, {Key(30), 20}}));
  ASSERT_EQ(Find(20), 10);
  EXPECT_STREQ(fdt_.GetField(1), "two");
  EXPECT_STREQ(fdt_.GetField(1), "thr");
  EXPECT_STREQ(fdt_.GetField(1), "");  // end of the file
  ASSERT_EQ(Find(10), 0);
  // A fixed single is skipped and gives the empty text.
  EXPECT_STREQ(fdt_.GetField(0), "");
  EXPECT_STREQ(fdt_.GetField(1), "two");
  EXPECT_STREQ(fdt_.GetField(5), "");  // no such field
}

TEST_F(FdtTest, GetFieldHonoursThePresenceBitmap) {
  StructureLayout layout;
  layout.flags = fdt::kFlagBitmap;
  layout.fields = {{"NR", 4, 1, test::kSingle, 0, test::kFixed, ""},
                 {"T1", 20, 1, test::kSingle, 0, 0, ""},
                 {"T2", 20, 1, test::kSingle, 0, 0, ""}};
  // Record 1: NR and T2 present (bits 101). Record 2: NR only (100).
  const std::string data = Record("\x01\xA0" + Key(1) + Var8("second")) + Record("\x01\x80" + Key(2));
  Load(layout, data, "");
  EXPECT_STREQ(fdt_.GetField(1), "");  // T1 absent
  fdt_.SetDataPosition(0);
  EXPECT_STREQ(fdt_.GetField(2), "second");
  EXPECT_STREQ(fdt_.GetField(2), "");  // absent in record 2
}

TEST_F(FdtTest, GetFieldReadsListsIntoTheNodeChain) {
  StructureLayout layout;
  layout.fields = {{"NR", 4, 1, test::kSingle, 0, test::kFixed, ""},
                 {"L8", 5, 3, test::kList8, 0, 0, ""},
                 {"L6", 300, 2, test::kList16, 0, test::kType6, ""},
                 {"AF", 9, 1, test::kSingle, 0, 0, ""}};
  const std::string l8 = std::string("\x02") + Var8("ab") + Var8("cde");
  const std::string l6 = Le16(1) + Le16(3) + "xyz";
  const std::string over = std::string("\x04") + Var8("a") + Var8("b") + Var8("c") + Var8("d");
  const std::string data = Record(Key(1) + l8 + l6 + Var8("after")) + Record(Key(2) + over + Le16(0) + Var8("z"));
  Load(layout, data, "");
  EXPECT_STREQ(fdt_.GetField(1), "");
  ASSERT_EQ(fdt_.ListCount(), 2u);
  EXPECT_STREQ(fdt_.ListElement(0), "ab");
  EXPECT_STREQ(fdt_.ListElement(1), "cde");
  EXPECT_EQ(fdt_.ListElementLength(1), 3);
  fdt_.SetDataPosition(0);
  (void)fdt_.GetField(2);
  ASSERT_EQ(fdt_.ListCount(), 1u);
  EXPECT_STREQ(fdt_.ListElement(0), "xyz");
  fdt_.SetDataPosition(0);
  EXPECT_STREQ(fdt_.GetField(3), "after");  // found behind both lists
  // Record 2 (at 27): four elements where three are allowed is rejected;
  // the field behind it can still be reached.
  EXPECT_STREQ(fdt_.GetField(1), "");
  EXPECT_EQ(fdt_.ListCount(), 0u);
  fdt_.SetDataPosition(27);
  EXPECT_STREQ(fdt_.GetField(3), "z");
}

TEST_F(FdtTest, FieldsBehindAPresentGroupAreNotGuessed) {
  StructureLayout layout;
  layout.fields = {{"GR", 0, 2, test::kGroup, 1, 0, ""}, {"M1", 3, 1, test::kSingle, 0, test::kFixed, ""},
                 {"AF", 9, 1, test::kSingle, 0, 0, ""}};
  Load(layout, Record(std::string("\x01") + "abc" + Var8("after")), "");
  EXPECT_STREQ(fdt_.GetField(2), "");
  fdt_.SetDataPosition(0);
  EXPECT_STREQ(fdt_.GetField(0), "");
}

TEST_F(FdtTest, TreeSearchWalksAHandBuiltTree) {
  // Steps 1, two levels of blocks of one entry: root 20 at level 0, then
  // block 0 (10) and block 1 (30) at level 1.
  const std::string body = Key(20) + Le32(10) + Key(10) + Le32(0) + Key(30) + Le32(20);
  const std::string two_level = TreeHeader(8, 1, 2, 8, 0, 0, 100).replace(24, 4, Le32(108)) + body;
  // Steps 2, one block of three entries stored level by level.
  const std::string one_block = TreeHeader(8, 2, 1, 24, 0, 0, 100) + body;
  const std::uint32_t tree = fdt::kFlagBackward | fdt::kFlagTree;
  for (const std::string& index : {two_level, one_block}) {
    for (const bool nearest : {false, true}) {
      fdt_.FreeStru();
      Load(test::NumberTextLayout(tree | (nearest ? fdt::kFlagNearest : 0)), ThreeRecords(), index);
      EXPECT_EQ(Find(10), 0);
      EXPECT_EQ(Find(20), 10);
      EXPECT_EQ(Find(30), 20);
      EXPECT_EQ(Find(15), nearest ? 10 : -1);
      EXPECT_EQ(Find(25), nearest ? 20 : -1);
      EXPECT_EQ(Find(5), nearest ? 0 : -1);
      EXPECT_EQ(Find(35), -1);
    }
  }
}

// ---- damaged input

TEST_F(FdtTest, BadStructureFilesFailToLoad) {
  const std::string good = test::StructureBytes(test::NumberTextLayout(0));
  std::string negative_count = good;
  negative_count.replace(4, 2, Le16(0x8001));
  std::string huge_count = good;
  huge_count.replace(4, 2, Le16(0x7FFF));
  std::string short_header = good;
  short_header.replace(0, 2, Le16(39));
  StructureLayout deep;
  // Each group holds everything after it.
  for (int i = 0; i < 12; ++i) {
    deep.fields.push_back({"G" + std::to_string(i % 10), 0, 2, test::kGroup, static_cast<std::uint16_t>(12 - i), 0, ""});
  }
  deep.fields.push_back({"MM", 1, 1, test::kSingle, 0, 0, ""});
  struct Row {
    const char* name;
    std::string bytes;
  };
  const std::vector<Row> rows = {
      {"empty", ""},
      {"one byte", "\x28"},
      {"header cut", good.substr(0, 30)},
      {"L below 40", short_header},
      {"negative F", negative_count},
      {"descriptors past the end", huge_count},
      {"descriptors cut", good.substr(0, 42 + 20)},
      {"no auxiliary block", good.substr(0, 42 + 26)},
      {"groups nested too deep", test::StructureBytes(deep)},
  };
  for (const Row& row : rows) {
    test::WriteFile(dir_ / "B.STR", row.bytes);
    FDT fdt;
    std::string d = "x", i = "y";
    EXPECT_FALSE(fdt.NewStru(dir_ / "B.STR", d, i)) << row.name;
    EXPECT_EQ(d, "") << row.name;
    EXPECT_EQ(i, "") << row.name;
    EXPECT_EQ(fdt.FieldCount(), 0) << row.name;
    EXPECT_STREQ(fdt.GetField(0), "") << row.name;
  }
  std::string d, i;
  EXPECT_FALSE(fdt_.NewStru(dir_ / "MISSING.STR", d, i));
}

TEST_F(FdtTest, DescriptionsPastTheEndLeaveTheStructureUsable) {
  const std::string good = test::StructureBytes(test::NumberTextLayout(0));
  test::WriteFile(dir_ / "T.STR", good.substr(0, good.size() - 3));
  std::string d, i;
  ASSERT_TRUE(fdt_.NewStru(dir_ / "T.STR", d, i));
  EXPECT_EQ(fdt_.Descriptions()[0], "number");
  EXPECT_EQ(fdt_.Descriptions()[1], "");
  EXPECT_EQ(fdt_.FieldNames(), "NR|D0");
}

TEST_F(FdtTest, DamagedRecordsGiveTheEmptyText) {
  struct Row {
    const char* name;
    std::string data;
    std::int32_t position_after;
  };
  const std::vector<Row> rows = {
      {"longer than the maximum", Le16(256) + std::string(256, 'a'), 0},
      {"cut short", Le16(20) + Key(1) + Var8("abc"), 10},
      {"value past the record", Record(Key(1) + "\x09" "abc"), 10},
      {"one byte file", "\x05", 0},
  };
  for (const Row& row : rows) {
    fdt_.FreeStru();
    Load(test::NumberTextLayout(0), row.data, "");
    EXPECT_STREQ(fdt_.GetField(1), "") << row.name;
    EXPECT_EQ(fdt_.DataPosition(), row.position_after) << row.name;
  }
}

TEST_F(FdtTest, BadIndexesEndAsNotFound) {
  const std::string list = test::ListIndex({{Key(10), 0}, {Key(20), 10}, {Key(30), 20}});
  const std::string body = Key(20) + Le32(10) + Key(10) + Le32(0) + Key(30) + Le32(20);
  const std::uint32_t nearest = fdt::kFlagBackward | fdt::kFlagNearest;
  struct Row {
    const char* name;
    std::uint32_t flags;
    std::string index;
    std::uint32_t key;
    std::int64_t offset;
  };
  const std::vector<Row> rows = {
      {"empty list", nearest, "", 10, -1},
      {"odd list length keeps whole entries", nearest, list + "abc", 30, 20},
      {"list shorter than one entry", nearest, "abc", 10, -1},
      {"tree header cut", nearest | fdt::kFlagTree, TreeHeader(8, 2, 1, 24, 0, 0, 100).substr(0, 60), 25, -1},
      {"block size 0", nearest | fdt::kFlagTree, TreeHeader(8, 2, 1, 0, 0, 0, 100) + body, 25, -1},
      {"1000 levels", nearest | fdt::kFlagTree, TreeHeader(8, 2, 1000, 24, 0, 0, 100) + body, 25, -1},
      {"block past the end", nearest | fdt::kFlagTree, TreeHeader(8, 2, 1, 24, 0, 0, 90000) + body, 25, -1},
      {"entry length 0", nearest | fdt::kFlagTree, TreeHeader(0, 2, 1, 24, 0, 0, 100) + body, 25, -1},
      {"entry length 4", nearest | fdt::kFlagTree, TreeHeader(4, 2, 1, 24, 0, 0, 100) + body, 25, -1},
      {"steps beyond the block", nearest | fdt::kFlagTree, TreeHeader(8, 60000, 1, 24, 0, 0, 100) + body, 25, -1},
      {"start step at the end", nearest | fdt::kFlagTree, TreeHeader(8, 2, 1, 24, 2, 0, 100) + body, 25, -1},
      {"start position past the block", nearest | fdt::kFlagTree, TreeHeader(8, 2, 1, 24, 0, 40, 100) + body, 25,
       -1},
      {"20 levels of the same block", nearest | fdt::kFlagTree, TreeHeader(8, 1, 20, 24, 0, 0, 100) + body, 25, -1},
  };
  for (const Row& row : rows) {
    fdt_.FreeStru();
    Load(test::NumberTextLayout(row.flags), ThreeRecords(), row.index);
    EXPECT_EQ(Find(row.key), row.offset) << row.name;
  }
}

// ---- files

TEST_F(FdtTest, SetFilesKeepsTheOldPairWhenAFileIsMissing) {
  Load(test::NumberTextLayout(fdt::kFlagBackward), ThreeRecords(), test::ListIndex({{Key(10), 0}}));
  EXPECT_FALSE(fdt_.SetFiles(dir_ / "T.DAT", dir_ / "NONE.IDX"));
  EXPECT_EQ(fdt_.IndexPath(), dir_ / "T.IDX");
  EXPECT_EQ(fdt_.DataLength(), 30u);
  EXPECT_TRUE(fdt_.SetFiles("", ""));  // nothing given, nothing changes
  EXPECT_EQ(fdt_.DataPath(), dir_ / "T.DAT");
  FDT empty;
  EXPECT_FALSE(empty.SetFiles(dir_ / "T.DAT", ""));  // needs a structure
}

TEST_F(FdtTest, ChangeFilesReopensOnTheNewPair) {
  Load(test::NumberTextLayout(fdt::kFlagBackward), ThreeRecords(), test::ListIndex({{Key(10), 0}}));
  test::WriteFile(dir_ / "U.DAT", Record(Key(7) + Var8("seven")));
  test::WriteFile(dir_ / "U.IDX", test::ListIndex({{Key(7), 0}}));
  EXPECT_FALSE(fdt_.ChangeFiles((dir_ / "U.DAT").c_str(), (dir_ / "NONE.IDX").c_str(), 0));
  EXPECT_EQ(fdt_.OpenFlags(), 0u);  // closed by the failed change
  ASSERT_TRUE(fdt_.OpenFiles(fdt::kOpenAll));
  EXPECT_TRUE(fdt_.ChangeFiles((dir_ / "U.DAT").c_str(), (dir_ / "U.IDX").c_str(), 0));
  EXPECT_EQ(fdt_.OpenFlags(), fdt::kOpenData | fdt::kOpenIndex);
  EXPECT_EQ(Find(7), 0);
  EXPECT_STREQ(fdt_.GetField(1), "seven");
}

TEST_F(FdtTest, CloseFilesKeepsThePosition) {
  Load(test::NumberTextLayout(fdt::kFlagBackward), ThreeRecords(), test::ListIndex({{Key(10), 0}}));
  EXPECT_STREQ(fdt_.GetField(1), "ten");
  EXPECT_TRUE(fdt_.CloseFiles(fdt::kOpenAll));
  EXPECT_EQ(fdt_.OpenFlags(), 0u);
  EXPECT_STREQ(fdt_.GetField(1), "");  // closed
  ASSERT_TRUE(fdt_.OpenFiles(fdt::kOpenAll));
  EXPECT_STREQ(fdt_.GetField(1), "two");
}

TEST_F(FdtTest, OpenFilesFailsWithoutItsFiles) {
  Load(test::NumberTextLayout(0), ThreeRecords(), "");
  ASSERT_TRUE(fdt_.CloseFiles(fdt::kOpenAll));
  std::error_code ec;
  std::filesystem::remove(dir_.path() / "T.IDX", ec);
  EXPECT_FALSE(fdt_.OpenFiles(fdt::kOpenAll));
  EXPECT_EQ(fdt_.OpenFlags(), 0u);
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
  struct Case {
    int button;
    int result;
  } cases[] = {{IDOK, 1}, {IDCANCEL, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    std::optional<test::SeenBox> seen;
    std::thread answer([&] { seen = test::AnswerBox(c.button, 20000); });
    const int result = FDT_CallbackFunc(1, 2, "Index damaged");
    answer.join();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->text, "Index damaged");
    EXPECT_EQ(seen->buttons, (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(seen->icon, LoadIconA(nullptr, IDI_HAND));
    EXPECT_EQ(result, c.result);
  }
}
#endif

}  // namespace
}  // namespace veupd
