// File handles: open modes, read-only files, and text-mode line reading.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

std::string ReadAll(File& f) {
  std::string out(4096, '\0');
  std::size_t got = 0;
  EXPECT_TRUE(f.Read(out.data(), out.size(), got).ok());
  out.resize(got);
  return out;
}

// A hint only: the data and the position stay, also past the end or with
// no file open.
TEST(FileModes, StartWriteBackChangesNothingVisible) {
  test::TempDir dir;
  File f;
  f.StartWriteBack(0, 10);
  ASSERT_TRUE(f.Open(dir / "a.dat", OpenMode::kCreateTruncate).ok());
  ASSERT_TRUE(f.Write("abcdef", 6).ok());
  f.StartWriteBack(0, 6);
  f.StartWriteBack(4, 100);
  ASSERT_TRUE(f.Write("gh", 2).ok());
  ASSERT_TRUE(f.Close().ok());
  EXPECT_EQ(test::ReadFile(dir / "a.dat"), "abcdefgh");
}

// Read-only files refuse writers even for administrators; a folder is no
// file; a moved handle stays open.
TEST(FileModes, ReadOnlyFilesAndFoldersRefuseWriters) {
  test::TempDir dir;
  test::WriteFile(dir / "ro.dat", "keep");
  ASSERT_TRUE(SetReadOnly(dir / "ro.dat", true).ok());
  File f;
  EXPECT_EQ(f.Open(dir / "ro.dat", OpenMode::kReadWriteExisting).kind, OsErr::kAccessDenied);
  EXPECT_EQ(f.Open(dir / "ro.dat", OpenMode::kCreateTruncate).kind, OsErr::kAccessDenied);
  EXPECT_EQ(f.Open(dir.str(), OpenMode::kRead).kind, OsErr::kAccessDenied);
  ASSERT_TRUE(f.Open(dir / "ro.dat", OpenMode::kRead).ok());
  File moved(std::move(f));
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_EQ(ReadAll(moved), "keep");
}

TEST(TextReader, CrLfAcrossTheReadBufferAndPositions) {
  test::TempDir dir;
  // Large enough that the CR and the LF arrive in different reads.
  constexpr std::size_t kLen = 65535;
  test::WriteFile(dir / "c.txt", std::string(kLen, 'x') + "\r\ny\r\n");
  TextReader r;
  ASSERT_TRUE(r.Open(dir / "c.txt").ok());
  std::string line;
  ASSERT_TRUE(r.ReadLine(line, 2 * kLen));
  EXPECT_EQ(line, std::string(kLen, 'x') + "\n");
  EXPECT_EQ(r.Position(), kLen + 2);
  ASSERT_TRUE(r.ReadLine(line, 255));
  EXPECT_EQ(line, "y\n");
  EXPECT_EQ(r.Position(), kLen + 5);

  ASSERT_TRUE(r.SeekTo(kLen - 1).ok());
  ASSERT_TRUE(r.ReadLine(line, 255));
  EXPECT_EQ(line, "x\n");

  TextReader missing;
  EXPECT_EQ(missing.Open(dir / "none.txt").kind, OsErr::kNotFound);
  EXPECT_FALSE(missing.ReadLine(line, 255));
}

}  // namespace
}  // namespace veupd::os
