// CDynBuf: growth that keeps the data, the zero byte kept after it, and
// sizes it cannot give.
#include "formats/dyn_buf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace veupd {
namespace {

TEST(DynBufTest, KeepsTheDataAndAZeroAfterItWhileGrowing) {
  CDynBuf buf(/*grow_step=*/4);
  EXPECT_STREQ(buf.Text(), "");
  ASSERT_TRUE(buf.AppendText("abcd"));  // fills the step exactly
  EXPECT_EQ(buf.Data()[4], 0);
  ASSERT_TRUE(buf.AppendChar('e'));
  ASSERT_TRUE(buf.Append("\0f", 2));
  EXPECT_EQ(buf.Size(), 7u);
  EXPECT_EQ(std::memcmp(buf.Data(), "abcde\0f\0", 8), 0);
  buf.SetGrowStep(100);
  ASSERT_TRUE(buf.Append(std::string(300, 'x').data(), 300));
  EXPECT_EQ(buf.Size(), 307u);
  EXPECT_EQ(std::memcmp(buf.Data(), "abcde\0f", 7), 0);
  EXPECT_EQ(buf.Data()[307], 0);
  buf.Empty();
  EXPECT_EQ(buf.Size(), 0u);
  EXPECT_STREQ(buf.Text(), "");
}

TEST(DynBufTest, SetSizeAfterWritingDirectlyAndImpossibleSizes) {
  CDynBuf buf;
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
