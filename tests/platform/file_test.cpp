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

TEST(FileModes, ReadWriteCreateKeepsContent) {
  test::TempDir dir;
  test::WriteFile(dir / "a.dat", "12345");
  File f;
  ASSERT_TRUE(f.Open(dir / "a.dat", OpenMode::kReadWriteCreate).ok());
  ASSERT_TRUE(f.Seek(0, SeekFrom::kEnd).ok());
  ASSERT_TRUE(f.Write("67", 2).ok());
  std::uint64_t length = 0;
  ASSERT_TRUE(f.Length(length).ok());
  EXPECT_EQ(length, 7u);
  ASSERT_TRUE(f.Close().ok());
  EXPECT_EQ(test::ReadFile(dir / "a.dat"), "1234567");
}

TEST(FileModes, CreateTruncateEmptiesAndSetLengthCuts) {
  test::TempDir dir;
  test::WriteFile(dir / "a.dat", "old content");
  File f;
  ASSERT_TRUE(f.Open(dir / "a.dat", OpenMode::kCreateTruncate).ok());
  ASSERT_TRUE(f.Write("abcdef", 6).ok());
  ASSERT_TRUE(f.SetLength(4).ok());
  std::uint64_t pos = 0;
  ASSERT_TRUE(f.Seek(-2, SeekFrom::kEnd, &pos).ok());
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(ReadAll(f), "cd");
  ASSERT_TRUE(f.Tell(pos).ok());
  EXPECT_EQ(pos, 4u);
  ASSERT_TRUE(f.Flush().ok());
  ASSERT_TRUE(f.Close().ok());
  EXPECT_EQ(test::ReadFile(dir / "a.dat"), "abcd");
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

TEST(FileModes, MovedHandleStaysOpen) {
  test::TempDir dir;
  test::WriteFile(dir / "a.dat", "xyz");
  File a;
  ASSERT_TRUE(a.Open(dir / "a.dat", OpenMode::kRead).ok());
  File b(std::move(a));
  EXPECT_TRUE(b.IsOpen());
  EXPECT_EQ(ReadAll(b), "xyz");
}

// Error paths.
TEST(FileModes, MissingFileIsNotFound) {
  test::TempDir dir;
  File f;
  EXPECT_EQ(f.Open(dir / "none.dat", OpenMode::kRead).kind, OsErr::kNotFound);
  EXPECT_EQ(f.Open(dir / "none.dat", OpenMode::kReadWriteExisting).kind, OsErr::kNotFound);
  EXPECT_EQ(f.Open(dir / "nodir/none.dat", OpenMode::kCreateTruncate).kind, OsErr::kNotFound);
  EXPECT_FALSE(f.IsOpen());
}

TEST(FileModes, CreateNewRefusesExistingName) {
  test::TempDir dir;
  test::WriteFile(dir / "a.dat", "keep");
  File f;
  EXPECT_EQ(f.Open(dir / "a.dat", OpenMode::kCreateNew).kind, OsErr::kExists);
  EXPECT_EQ(f.Open(dir / "A.DAT", OpenMode::kCreateNew).kind, OsErr::kExists);
  EXPECT_EQ(test::ReadFile(dir / "a.dat"), "keep");
}

TEST(FileModes, ReadOnlyFileRefusesWritersEvenForAdministrators) {
  test::TempDir dir;
  test::WriteFile(dir / "ro.dat", "keep");
  ASSERT_TRUE(SetReadOnly(dir / "ro.dat", true).ok());
  File f;
  EXPECT_EQ(f.Open(dir / "ro.dat", OpenMode::kReadWriteExisting).kind, OsErr::kAccessDenied);
  EXPECT_EQ(f.Open(dir / "ro.dat", OpenMode::kCreateTruncate).kind, OsErr::kAccessDenied);
  ASSERT_TRUE(f.Open(dir / "ro.dat", OpenMode::kRead).ok());
  EXPECT_EQ(ReadAll(f), "keep");
}

TEST(FileModes, DirectoryIsNotAFile) {
  test::TempDir dir;
  File f;
  EXPECT_EQ(f.Open(dir.str(), OpenMode::kRead).kind, OsErr::kAccessDenied);
}

// Text mode: CR LF reads as one line end, counted after the translation.
TEST(TextReader, CrLfLinesAndPieces) {
  test::TempDir dir;
  const std::string long_line(300, 'x');
  test::WriteFile(dir / "c.txt", "one\r\ntwo\nthree\rfour\r\n" + long_line + "\r\nlast");
  TextReader r;
  ASSERT_TRUE(r.Open(dir / "c.txt").ok());
  std::string line;
  const std::vector<std::string> expected = {
      "one\n", "two\n", "three\rfour\n", std::string(255, 'x'), std::string(45, 'x') + "\n", "last"};
  for (const std::string& want : expected) {
    ASSERT_TRUE(r.ReadLine(line, 255));
    EXPECT_EQ(line, want);
  }
  EXPECT_FALSE(r.ReadLine(line, 255));
  EXPECT_TRUE(line.empty());
}

TEST(TextReader, LineEndCountsAsOneCharacterOfTheLimit) {
  test::TempDir dir;
  // 254 characters and CR LF: the translated line end still fits in 255.
  test::WriteFile(dir / "c.txt", std::string(254, 'a') + "\r\nb");
  TextReader r;
  ASSERT_TRUE(r.Open(dir / "c.txt").ok());
  std::string line;
  ASSERT_TRUE(r.ReadLine(line, 255));
  EXPECT_EQ(line, std::string(254, 'a') + "\n");
  ASSERT_TRUE(r.ReadLine(line, 255));
  EXPECT_EQ(line, "b");
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
}

TEST(TextReader, MissingFileFailsToOpen) {
  test::TempDir dir;
  TextReader r;
  EXPECT_EQ(r.Open(dir / "none.txt").kind, OsErr::kNotFound);
  std::string line;
  EXPECT_FALSE(r.ReadLine(line, 255));
}

}  // namespace
}  // namespace veupd::os
