// The level log writer: opened at the first entry, appends CR LF entries and
// flushes each at once.
#include "engine/log_class.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace veupd {
namespace {

TEST(CLogClass, OpensLazilyAndAppendsToWhatIsThere) {
  test::TempDir dir;
  const std::string path = dir / "a.log";
  test::WriteFile(path, "old\r\n");
  CLogClass log(path);
  EXPECT_FALSE(log.IsOpen());
  log.Write("one");
  EXPECT_TRUE(log.IsOpen());
  // On disk at once, while the writer still holds the file.
  EXPECT_EQ(test::ReadFile(path), "old\r\none\r\n");
  log.Write("two\r\n\tParameter 1 : x");
  EXPECT_EQ(test::ReadFile(path), "old\r\none\r\ntwo\r\n\tParameter 1 : x\r\n");
}

}  // namespace
}  // namespace veupd
