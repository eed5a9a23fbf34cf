// The message dictionary on hand-built message tables in two languages.
#include "tables/message_dictionary.h"

#include <gtest/gtest.h>

#include "tables/fdt_test_tables.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::Le32;
using test::Record;
using test::Var8;

class DictionaryTest : public ::testing::Test {
 protected:
  DictionaryTest() {
    test::StructureLayout layout = test::NumberTextLayout(fdt::kFlagBackward);
    layout.data_name = "MSG@@.DAT";
    layout.index_name = "MSG@@.IDX";
    layout.fields.push_back({"LS", 5, 2, test::kList8, 0, 0, ""});
    test::WriteFile(dir_ / "MSG.STR", test::StructureBytes(layout));
    WriteLanguage("E", {{118, "Update"}, {3671, "Copying"}, {4860, "Done"}});
    WriteLanguage("D", {{118, "Aktualisierung"}, {4860, "Fertig"}});
  }
  // Records in number order with their list index (offsets by hand).
  void WriteLanguage(const std::string& code, const std::vector<std::pair<std::uint32_t, std::string>>& texts,
                     const std::string& stem = "MSG") {
    std::string data;
    std::string index;
    for (const auto& [number, text] : texts) {
      index += Le32(number) + Le32(static_cast<std::uint32_t>(data.size()));
      data += Record(Le32(number) + Var8(text) + std::string(1, '\0'));
    }
    test::WriteFile(dir_ / (stem + code + ".DAT"), data);
    test::WriteFile(dir_ / (stem + code + ".IDX"), index);
  }
  std::string Structure() const { return dir_ / "MSG.STR"; }

  test::TempDir dir_;
};

TEST_F(DictionaryTest, LookupsBeforeOrAfterAFailedOpenGiveEmptyText) {
  TDM_FdtTessel dictionary(nullptr, nullptr, "D0");
  const char* text = dictionary.GetText(118);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  EXPECT_FALSE(dictionary.Open((dir_ / "NONE.STR").c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_STREQ(dictionary.GetText(118), "");
  std::string out = "stale";
  EXPECT_FALSE(dictionary.GetText(118, out));
  EXPECT_EQ(out, "");
}

TEST_F(DictionaryTest, OpenFindsTextsByNumber) {
  TDM_FdtTessel dictionary(nullptr, nullptr, "D0");
  // The pattern MSG@@ with the code E names MSGE.
  ASSERT_TRUE(dictionary.Open(Structure().c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_EQ(dictionary.GetLanguage(), "E");
  EXPECT_STREQ(dictionary.GetText(118), "Update");
  EXPECT_STREQ(dictionary.GetText(4860), "Done");
  EXPECT_STREQ(dictionary.GetText(3671), "Copying");
  EXPECT_STREQ(dictionary.GetText(119), "");
  std::string out;
  EXPECT_TRUE(dictionary.GetText(3671, out));
  EXPECT_EQ(out, "Copying");
  EXPECT_FALSE(dictionary.GetText(4000, out));
  EXPECT_EQ(out, "");
}

TEST_F(DictionaryTest, SetLanguageSwitchesOrKeepsTheOldPair) {
  TDM_FdtTessel dictionary(Structure().c_str(), "E", "D0");
  ASSERT_TRUE(dictionary.IsOpen());
  EXPECT_TRUE(dictionary.SetLanguage("D"));
  EXPECT_STREQ(dictionary.GetText(118), "Aktualisierung");
  EXPECT_STREQ(dictionary.GetText(3671), "");  // not translated
  // No files for "F": the German pair stays in force.
  EXPECT_FALSE(dictionary.SetLanguage("F"));
  EXPECT_EQ(dictionary.GetLanguage(), "D");
  EXPECT_STREQ(dictionary.GetText(4860), "Fertig");
  EXPECT_TRUE(dictionary.SetLanguage("D"));  // the current code: nothing to do
}

TEST_F(DictionaryTest, EmptyCodeWhileNoneIsSetIsRefused) {
  TDM_FdtTessel dictionary(nullptr, nullptr, "D0");
  test::WriteFile(dir_ / "PLAIN.DAT", test::ReadFile(dir_.path() / "MSGE.DAT"));
  test::WriteFile(dir_ / "PLAIN.IDX", test::ReadFile(dir_.path() / "MSGE.IDX"));
  // Without a language the arguments are full paths and need no '@'.
  ASSERT_TRUE(dictionary.Open(Structure().c_str(), nullptr, "D0", (dir_ / "PLAIN.DAT").c_str(),
                              (dir_ / "PLAIN.IDX").c_str()));
  EXPECT_EQ(dictionary.GetLanguage(), "");
  EXPECT_STREQ(dictionary.GetText(118), "Update");
  EXPECT_FALSE(dictionary.SetLanguage(""));
}

TEST_F(DictionaryTest, PathArgumentsAreDirectoriesOrFullPatterns) {
  const std::string other = dir_ / "other";
  std::error_code ec;
  std::filesystem::create_directories(other, ec);
  WriteLanguage("E", {{70, "moved"}}, "other/MSG");
  WriteLanguage("E", {{70, "full"}}, "other/X");
  TDM_FdtTessel dictionary(nullptr, nullptr, "D0");
  // A trailing separator names a directory: the header's file name follows.
  const std::string as_directory = other + os::kNativeSeparator;
  ASSERT_TRUE(dictionary.Open(Structure().c_str(), "E", "D0", as_directory.c_str(), as_directory.c_str()));
  EXPECT_STREQ(dictionary.GetText(70), "moved");
  ASSERT_TRUE(dictionary.Open(Structure().c_str(), "E", "D0", (other + "/X@.DAT").c_str(),
                              (other + "/X@.IDX").c_str()));
  EXPECT_STREQ(dictionary.GetText(70), "full");
  // A language needs '@' in both patterns.
  EXPECT_FALSE(dictionary.Open(Structure().c_str(), "E", "D0", (other + "/XE.DAT").c_str(), nullptr));
  EXPECT_FALSE(dictionary.IsOpen());
  EXPECT_STREQ(dictionary.GetText(70), "");
}

TEST_F(DictionaryTest, FieldMustBeASingleValueOfTheStructure) {
  TDM_FdtTessel dictionary(nullptr, nullptr, "D0");
  EXPECT_FALSE(dictionary.Open(Structure().c_str(), "E", "XX", nullptr, nullptr));
  EXPECT_FALSE(dictionary.IsOpen());
  // A list field would hand out a count instead of a text.
  EXPECT_FALSE(dictionary.Open(Structure().c_str(), "E", "LS", nullptr, nullptr));
  ASSERT_TRUE(dictionary.Open(Structure().c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_FALSE(dictionary.SelectField("LS"));
  EXPECT_STREQ(dictionary.GetText(118), "Update");  // the old field stays
}

TEST_F(DictionaryTest, DroppingTheStructureClosesTheDictionary) {
  TDM_FdtTessel dictionary(Structure().c_str(), "E", "D0");
  ASSERT_TRUE(dictionary.IsOpen());
  FDT& table = dictionary;
  table.FreeStru();
  EXPECT_FALSE(dictionary.IsOpen());
  EXPECT_STREQ(dictionary.GetText(118), "");
  // And it can be opened again.
  EXPECT_TRUE(dictionary.Open(Structure().c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_STREQ(dictionary.GetText(118), "Update");
}

}  // namespace
}  // namespace veupd
