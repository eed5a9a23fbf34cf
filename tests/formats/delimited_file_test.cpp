// CDelimitedFile's lines, fields and counting, and CDynBuf's growth that keeps the data and the zero after it.
#include "formats/delimited_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "formats/dyn_buf.h"
#include "test_support.h"

namespace veupd {
namespace {

using Lines = std::vector<std::string>;

// Lines are cut at 800 characters; fields split at the delimiter text.
TEST(DelimitedFile, RecordsAndFields) {
  test::TempDir dir;
  const std::string path = dir / "list.txt";
  const std::string a800(800, 'a');
  const std::string b200(200, 'b');
  const std::pair<std::string, Lines> cases[] = {
      {"x\r\ny\r\n", {"x", "y"}}, {"x\ny\n", {"x", "y"}}, {"x\r\ny", {"x", "y"}}, {"\r\n\r\nz\r\n", {"", "", "z"}},
      {"", {}}, {"x\ry\r\n", {"x\ry"}},                                         // a lone CR stays
      {a800 + b200 + "\r\n", {a800, b200}}, {a800 + "\r\nz", {a800, "", "z"}},  // the line end left is a record
      {std::string("ab\0cd\tef\r\ngh\r\n", 14), {"ab", "gh"}},                  // NUL ends the line's text
  };
  for (const auto& [bytes, records] : cases) {
    CDelimitedFile file;
    test::WriteFile(path, bytes);
    ASSERT_TRUE(file.Open(path.c_str()));
    Lines lines;
    while (file.ReadRecord()) lines.push_back(file.CurrentLine());
    EXPECT_EQ(lines, records) << bytes.substr(0, 20);
  }

  // The line, the delimiter, its fields (one index past the last gives "") and the number of delimiters.
  const std::tuple<const char*, const char*, Lines, int> splits[] = {
      {"a\t\tb", "\t", {"a", "", "b"}, 2},   {"abc", "\t", {"abc"}, 0},         {"\ta\t", "\t", {"", "a", ""}, 2},
      {"x::y::z", "::", {"x", "y", "z"}, 2}, {"x:::y", "::", {"x", "", "y"}, 2}, {"a\tb;c", ";", {"a\tb", "c"}, 1},
  };
  for (const auto& [line, delimiter, fields, delimiters] : splits) {
    SCOPED_TRACE(line);
    CDelimitedFile file;
    file.SetDelimiter(2, delimiter);
    test::WriteFile(path, std::string(line) + "\r\n");
    ASSERT_TRUE(file.Open(path.c_str()));
    ASSERT_TRUE(file.ReadRecord());
    Lines got(fields.size(), "junk");
    for (std::size_t i = 0; i < got.size(); ++i) file.GetField(static_cast<int>(i), got[i]);
    EXPECT_EQ(got, fields);
    EXPECT_STREQ(file.GetFieldText(static_cast<int>(fields.size())), "");
    EXPECT_EQ(file.DelimiterCount(), delimiters);
  }
}

TEST(DelimitedFile, PathWritingAndCounting) {
  test::TempDir dir;
  const std::string path = dir / "list.txt";
  CDelimitedFile none;
  EXPECT_FALSE(none.Open());
  EXPECT_FALSE(none.Open((dir / "missing.txt").c_str()));
  EXPECT_FALSE(none.IsOpen());
  EXPECT_EQ(none.CountRecords(), 0);
  EXPECT_STREQ(none.ReadField(0), "");
  EXPECT_FALSE(none.SetFilePath(nullptr));

  CDelimitedFile file(path.c_str());
  file.output_lines_ = {"a\tb\n", "c\n"};
  ASSERT_TRUE(file.WriteLines());
  EXPECT_EQ(test::ReadFile(path), "a\tb\r\nc\r\n");
  ASSERT_TRUE(file.Open());
  EXPECT_FALSE(file.WriteLines()) << "the open reader denies writers";
  EXPECT_STREQ(file.ReadField(1), "b");
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.ReadRecord());

  // CountRecords counts the records left and keeps the read position.
  test::WriteFile(path, "k1\tv1\r\nk2\tv2\r\nk3\tv3");
  EXPECT_TRUE(none.SetFilePath(path.c_str()));
  none.SetDelimiter(2, "\t");
  ASSERT_TRUE(none.Open());
  EXPECT_EQ(none.CountRecords(), 3);
  EXPECT_EQ(none.RecordCount(), 3);
  ASSERT_TRUE(none.ReadRecord());
  EXPECT_STREQ(none.GetFieldText(0), "k1");
  EXPECT_EQ(none.CountRecords(), 2);
  EXPECT_STREQ(none.ReadField(1), "v2");
  EXPECT_STREQ(none.ReadField(1), "v3");
  EXPECT_STREQ(none.ReadField(0), "") << "past the end";
  EXPECT_FALSE(none.ReadRecord());
  EXPECT_EQ(none.CountRecords(), 0);
}

TEST(DynBuf, KeepsTheDataAndAZeroAfterItWhileGrowingAndRefusesImpossibleSizes) {
  CDynBuf buf(/*grow_step=*/4);
  EXPECT_STREQ(buf.Text(), "");
  ASSERT_TRUE(buf.AppendText("abcd"));  // fills the step exactly
  EXPECT_EQ(buf.Data()[4], 0);
  ASSERT_TRUE(buf.AppendChar('e'));
  ASSERT_TRUE(buf.Append("\0f", 2));
  EXPECT_EQ(std::string(buf.Text(), buf.Size() + 1), std::string("abcde\0f\0", 8));
  buf.SetGrowStep(100);
  ASSERT_TRUE(buf.Append(std::string(300, 'x').data(), 300));
  EXPECT_EQ(std::string(buf.Text(), buf.Size() + 1), std::string("abcde\0f", 7) + std::string(300, 'x') + '\0');
  buf.Empty();
  EXPECT_EQ(buf.Size(), 0u);
  EXPECT_STREQ(buf.Text(), "");
  ASSERT_TRUE(buf.AppendText("keep"));
  ASSERT_TRUE(buf.Reserve(5000));
  EXPECT_GE(buf.Capacity(), 5000u);
  EXPECT_STREQ(buf.Text(), "keep");
  std::memset(buf.Data() + 4, 'z', 3);
  buf.SetSize(7);
  EXPECT_STREQ(buf.Text(), "keepzzz");
  // Sizes it cannot give fail and keep the data.
  EXPECT_FALSE(buf.Reserve(static_cast<std::size_t>(-1)));
  EXPECT_FALSE(buf.Append("x", static_cast<std::size_t>(-2)));
  EXPECT_STREQ(buf.Text(), "keepzzz");
  buf.SetSize(100000);
  EXPECT_EQ(buf.Size(), buf.Capacity()) << "never beyond the room";
}

}  // namespace
}  // namespace veupd
