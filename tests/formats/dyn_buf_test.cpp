// CDynBuf: whole-step growth and the zero byte kept after the data.
#include "formats/dyn_buf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace veupd {
namespace {

TEST(DynBufTest, GrowsInWholeSteps) {
  CDynBuf buf(/*grow_step=*/10);
  ASSERT_TRUE(buf.AppendText("abc"));
  EXPECT_EQ(buf.Capacity(), 10u);
  ASSERT_TRUE(buf.AppendText("defghijk"));  // 11 bytes: two steps
  EXPECT_EQ(buf.Capacity(), 20u);
  ASSERT_TRUE(buf.Append(std::string(25, 'x').data(), 25));  // 36: four steps
  EXPECT_EQ(buf.Capacity(), 40u);
  EXPECT_EQ(buf.Size(), 36u);
  EXPECT_EQ(std::string(buf.Text(), 11), "abcdefghijk");
  buf.SetGrowStep(100);
  ASSERT_TRUE(buf.AppendChar('!'));
  EXPECT_EQ(buf.Capacity(), 40u) << "room left: no growth";
  ASSERT_TRUE(buf.Reserve(41));
  EXPECT_EQ(buf.Capacity(), 100u);
}

TEST(DynBufTest, KeepsAZeroAfterTheData) {
  CDynBuf buf(/*grow_step=*/4);
  EXPECT_STREQ(buf.Text(), "");
  ASSERT_TRUE(buf.AppendText("abcd"));  // fills the step exactly
  EXPECT_EQ(buf.Data()[4], 0);
  ASSERT_TRUE(buf.AppendChar('e'));
  ASSERT_TRUE(buf.Append("\0f", 2));
  EXPECT_EQ(buf.Size(), 7u);
  EXPECT_EQ(std::memcmp(buf.Data(), "abcde\0f\0", 8), 0);
  buf.Empty();
  EXPECT_EQ(buf.Size(), 0u);
  EXPECT_STREQ(buf.Text(), "");
  EXPECT_EQ(buf.Capacity(), 8u) << "emptying keeps the memory";
}

TEST(DynBufTest, SetSizeAfterWritingDirectly) {
  CDynBuf buf;
  ASSERT_TRUE(buf.AppendText("keep"));
  ASSERT_TRUE(buf.Reserve(5000));
  EXPECT_EQ(buf.Capacity(), 8192u);
  EXPECT_STREQ(buf.Text(), "keep");
  std::memset(buf.Data() + 4, 'z', 3);
  buf.SetSize(7);
  EXPECT_STREQ(buf.Text(), "keepzzz");
  buf.SetSize(100000);
  EXPECT_EQ(buf.Size(), buf.Capacity()) << "never beyond the room";
}

TEST(DynBufTest, ImpossibleSizeFailsAndKeepsTheData) {
  CDynBuf buf;
  ASSERT_TRUE(buf.AppendText("data"));
  EXPECT_FALSE(buf.Reserve(static_cast<std::size_t>(-1)));
  EXPECT_FALSE(buf.Append("x", static_cast<std::size_t>(-2)));
  EXPECT_STREQ(buf.Text(), "data");
}

}  // namespace
}  // namespace veupd
