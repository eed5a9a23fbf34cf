// CDelimitedFile: text-mode lines cut at 800 characters, fields split at the
// delimiter text, CountRecords keeping the read position.
#include "formats/delimited_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace veupd {
namespace {

class DelimitedFileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& bytes) {
    const std::string path = dir_ / "list.txt";
    test::WriteFile(path, bytes);
    return path;
  }
  // Every record of the file as the reader delivers it.
  static std::vector<std::string> Records(const std::string& path) {
    CDelimitedFile file;
    std::vector<std::string> lines;
    if (!file.Open(path.c_str())) return {"<open failed>"};
    while (file.ReadRecord()) lines.push_back(file.CurrentLine());
    return lines;
  }
  test::TempDir dir_;
};

using Lines = std::vector<std::string>;

TEST_F(DelimitedFileTest, Records) {
  struct Case {
    const char* name;
    std::string bytes;
    Lines records;
  };
  const std::string a800(800, 'a');
  const std::string b200(200, 'b');
  const Case cases[] = {
      {"CR LF lines", "x\r\ny\r\n", {"x", "y"}},
      {"LF lines", "x\ny\n", {"x", "y"}},
      {"no line end at the end", "x\r\ny", {"x", "y"}},
      {"empty lines count", "\r\n\r\nz\r\n", {"", "", "z"}},
      {"lone CR stays", "x\ry\r\n", {"x\ry"}},
      {"1000 characters are two records", a800 + b200 + "\r\n", {a800, b200}},
      // The reader stops after 800 characters; the line end is then a record
      // of its own.
      {"exactly 800 characters", a800 + "\r\nz", {a800, "", "z"}},
      {"NUL ends the line's text", std::string("ab\0cd\tef\r\ngh\r\n", 14), {"ab", "gh"}},
      {"empty file", "", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Records(Make(c.bytes)), c.records) << c.name;
  }
}

TEST_F(DelimitedFileTest, Fields) {
  struct Case {
    const char* name;
    const char* line;
    const char* delimiter;
    Lines fields;  // then one index past the last, which must be empty
    int delimiters;
  };
  const Case cases[] = {
      {"empty field between tabs", "a\t\tb", "\t", {"a", "", "b"}, 2},
      {"no tab: one field", "abc", "\t", {"abc"}, 0},
      {"leading and trailing tab", "\ta\t", "\t", {"", "a", ""}, 2},
      {"text delimiter", "x::y::z", "::", {"x", "y", "z"}, 2},
      {"overlapping delimiter hits", "x:::y", "::", {"x", "", "y"}, 2},
      {"other delimiter leaves tabs", "a\tb;c", ";", {"a\tb", "c"}, 1},
  };
  for (const Case& c : cases) {
    CDelimitedFile file;
    file.SetDelimiter(2, c.delimiter);
    ASSERT_TRUE(file.Open(Make(std::string(c.line) + "\r\n").c_str())) << c.name;
    ASSERT_TRUE(file.ReadRecord()) << c.name;
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
      std::string field = "junk";
      file.GetField(static_cast<int>(i), field);
      EXPECT_EQ(field, c.fields[i]) << c.name << " field " << i;
    }
    EXPECT_STREQ(file.GetFieldText(static_cast<int>(c.fields.size())), "") << c.name;
    EXPECT_EQ(file.DelimiterCount(), c.delimiters) << c.name;
  }
}

TEST_F(DelimitedFileTest, PathFromTheConstructorOrOpen) {
  const std::string path = Make("a\tb\r\n");
  CDelimitedFile by_constructor(path.c_str());
  EXPECT_TRUE(by_constructor.Open());
  EXPECT_STREQ(by_constructor.ReadField(1), "b");
  CDelimitedFile by_setter;
  EXPECT_FALSE(by_setter.SetFilePath(nullptr));
  EXPECT_TRUE(by_setter.SetFilePath(path.c_str()));
  EXPECT_TRUE(by_setter.Open());
  EXPECT_TRUE(by_setter.IsOpen());
  by_setter.Close();
  EXPECT_FALSE(by_setter.IsOpen());
  EXPECT_FALSE(by_setter.ReadRecord());
}

TEST_F(DelimitedFileTest, WriteLinesUsesCrLf) {
  const std::string path = dir_ / "out.txt";
  CDelimitedFile file(path.c_str());
  file.output_lines_ = {"a\tb\n", "c\n"};
  ASSERT_TRUE(file.WriteLines());
  EXPECT_EQ(test::ReadFile(path), "a\tb\r\nc\r\n");
  ASSERT_TRUE(file.Open());
  EXPECT_FALSE(file.WriteLines()) << "the open reader denies writers";
}

// ---------------------------------------------------------------- failures

TEST_F(DelimitedFileTest, OpenFailsWithoutPathOrFile) {
  CDelimitedFile file;
  EXPECT_FALSE(file.Open());
  EXPECT_FALSE(file.Open((dir_ / "missing.txt").c_str()));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.CountRecords(), 0);
  EXPECT_FALSE(file.ReadRecord());
  EXPECT_STREQ(file.ReadField(0), "");
}

TEST_F(DelimitedFileTest, CountRecordsKeepsThePosition) {
  CDelimitedFile file;
  file.SetDelimiter(2, "\t");
  ASSERT_TRUE(file.Open(Make("k1\tv1\r\nk2\tv2\r\nk3\tv3").c_str()));
  EXPECT_EQ(file.CountRecords(), 3);
  EXPECT_EQ(file.RecordCount(), 3);
  ASSERT_TRUE(file.ReadRecord());
  EXPECT_STREQ(file.GetFieldText(0), "k1");
  EXPECT_EQ(file.CountRecords(), 2);
  EXPECT_STREQ(file.ReadField(1), "v2");
  EXPECT_STREQ(file.ReadField(1), "v3");
  EXPECT_STREQ(file.ReadField(0), "") << "past the end";
  EXPECT_FALSE(file.ReadRecord());
  EXPECT_EQ(file.CountRecords(), 0);
}

}  // namespace
}  // namespace veupd
