// The message dictionary on hand-built message tables in two languages.
#include "tables/message_dictionary.h"

#include <gtest/gtest.h>

#include "tables/fdt_test_tables.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::Le32;

class DictionaryTest : public ::testing::Test {
 protected:
  DictionaryTest() {
    test::StructureLayout layout = test::NumberTextLayout(fdt::kFlagBackward);
    layout.data_name = "MSG@@.DAT";
    layout.index_name = "MSG@@.IDX";
    layout.fields.push_back({"LS", 5, 2, test::kList8, 0, 0, ""});
    test::WriteFile(dir_ / "MSG.STR", test::StructureBytes(layout));
    WriteLanguage("MSGE", {{118, "Update"}, {3671, "Copying"}, {4860, "Done"}});
    WriteLanguage("MSGD", {{118, "Aktualisierung"}, {4860, "Fertig"}});
  }
  // Records in number order with their list index (offsets by hand).
  void WriteLanguage(const std::string& stem, const std::vector<std::pair<std::uint32_t, std::string>>& texts) {
    std::string data, index;
    for (const auto& [number, text] : texts) {
      index += Le32(number) + Le32(static_cast<std::uint32_t>(data.size()));
      data += test::Record(Le32(number) + test::Var8(text) + std::string(1, '\0'));
    }
    test::WriteFile(dir_ / (stem + ".DAT"), data);
    test::WriteFile(dir_ / (stem + ".IDX"), index);
  }

  test::TempDir dir_;
  const std::string structure_ = dir_ / "MSG.STR";
  TDM_FdtTessel dictionary_{nullptr, nullptr, "D0"};
};

TEST_F(DictionaryTest, OpenFindsTextsByNumberAndFailedOpensGiveEmptyText) {
  ASSERT_NE(dictionary_.GetText(118), nullptr);
  EXPECT_STREQ(dictionary_.GetText(118), "");
  EXPECT_FALSE(dictionary_.Open((dir_ / "NONE.STR").c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_STREQ(dictionary_.GetText(118), "");
  std::string out = "stale";
  EXPECT_FALSE(dictionary_.GetText(118, out));
  EXPECT_EQ(out, "");
  // The pattern MSG@@ with the code E names MSGE.
  ASSERT_TRUE(dictionary_.Open(structure_.c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_EQ(dictionary_.GetLanguage(), "E");
  EXPECT_STREQ(dictionary_.GetText(118), "Update");
  EXPECT_STREQ(dictionary_.GetText(4860), "Done");
  EXPECT_STREQ(dictionary_.GetText(119), "");
  EXPECT_TRUE(dictionary_.GetText(3671, out));
  EXPECT_EQ(out, "Copying");
  EXPECT_FALSE(dictionary_.GetText(4000, out));
  EXPECT_EQ(out, "");
  // Dropping the structure closes the dictionary; it can be opened again.
  static_cast<FDT&>(dictionary_).FreeStru();
  EXPECT_FALSE(dictionary_.IsOpen());
  EXPECT_STREQ(dictionary_.GetText(118), "");
  EXPECT_TRUE(dictionary_.Open(structure_.c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_STREQ(dictionary_.GetText(118), "Update");
}

TEST_F(DictionaryTest, SetLanguageSwitchesOrKeepsTheOldPair) {
  TDM_FdtTessel dictionary(structure_.c_str(), "E", "D0");
  ASSERT_TRUE(dictionary.IsOpen());
  EXPECT_TRUE(dictionary.SetLanguage("D"));
  EXPECT_STREQ(dictionary.GetText(118), "Aktualisierung");
  EXPECT_STREQ(dictionary.GetText(3671), "");  // not translated
  // No files for "F": the German pair stays in force.
  EXPECT_FALSE(dictionary.SetLanguage("F"));
  EXPECT_EQ(dictionary.GetLanguage(), "D");
  EXPECT_STREQ(dictionary.GetText(4860), "Fertig");
  EXPECT_TRUE(dictionary.SetLanguage("D"));  // the current code: nothing to do
  // Without a language the arguments are full paths and need no '@'; an
  // empty code is refused while none is set.
  ASSERT_TRUE(dictionary_.Open(structure_.c_str(), nullptr, "D0", (dir_ / "MSGE.DAT").c_str(), (dir_ / "MSGE.IDX").c_str()));
  EXPECT_EQ(dictionary_.GetLanguage(), "");
  EXPECT_STREQ(dictionary_.GetText(118), "Update");
  EXPECT_FALSE(dictionary_.SetLanguage(""));
}

TEST_F(DictionaryTest, PathArgumentsAreDirectoriesOrFullPatterns) {
  const std::string other = dir_ / "other";
  WriteLanguage("other/MSGE", {{70, "moved"}});
  WriteLanguage("other/XE", {{70, "full"}});
  // A trailing separator names a directory: the header's file name follows.
  const std::string as_directory = other + os::kNativeSeparator;
  ASSERT_TRUE(dictionary_.Open(structure_.c_str(), "E", "D0", as_directory.c_str(), as_directory.c_str()));
  EXPECT_STREQ(dictionary_.GetText(70), "moved");
  ASSERT_TRUE(dictionary_.Open(structure_.c_str(), "E", "D0", (other + "/X@.DAT").c_str(), (other + "/X@.IDX").c_str()));
  EXPECT_STREQ(dictionary_.GetText(70), "full");
  // A language needs '@' in both patterns.
  EXPECT_FALSE(dictionary_.Open(structure_.c_str(), "E", "D0", (other + "/XE.DAT").c_str(), nullptr));
  EXPECT_FALSE(dictionary_.IsOpen());
  EXPECT_STREQ(dictionary_.GetText(70), "");
}

TEST_F(DictionaryTest, FieldMustBeASingleValueOfTheStructure) {
  EXPECT_FALSE(dictionary_.Open(structure_.c_str(), "E", "XX", nullptr, nullptr));
  EXPECT_FALSE(dictionary_.IsOpen());
  // A list field would hand out a count instead of a text.
  EXPECT_FALSE(dictionary_.Open(structure_.c_str(), "E", "LS", nullptr, nullptr));
  ASSERT_TRUE(dictionary_.Open(structure_.c_str(), "E", "D0", nullptr, nullptr));
  EXPECT_FALSE(dictionary_.SelectField("LS"));
  EXPECT_STREQ(dictionary_.GetText(118), "Update");  // the old field stays
}

}  // namespace
}  // namespace veupd
