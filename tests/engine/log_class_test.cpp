// The level log writer: appends CR LF entries, flushes each at once, and
// loses entries silently when the file cannot be had.
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

TEST(CLogClass, KeepsOtherWritersOutWhileOpen) {
  test::TempDir dir;
  const std::string path = dir / "a.log";
  CLogClass first(path);
  first.Write("first");
  CLogClass second(path);
  second.Write("lost");
  EXPECT_FALSE(second.IsOpen());
  first.Close();
  second.Write("now");
  EXPECT_EQ(test::ReadFile(path), "first\r\nnow\r\n");
}

// Error paths.
TEST(CLogClass, MissingDirectoryLosesEntriesWithoutFailing) {
  test::TempDir dir;
  CLogClass log(dir / "no/such/dir/a.log");
  log.Write("lost");
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

}  // namespace
}  // namespace veupd
