// File handles: open modes, read-only files, text-mode line reading, and
// the fault plan that the fault tests put under them.
#include <gtest/gtest.h>

#include "platform/fault_injection.h"
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

// The fault plan: failures arrive at the planned call, as the system's own
// errors, and leave the handle and the file in the state a real one would.
using fault::Call;
using fault::FaultScope;

TEST(FaultInjection, AnyCountsEveryPrimitive) {
  test::TempDir dir;
  test::WriteFile(dir / "a.dat", "x");
  FaultScope faults;
  faults.FailCall(Call::kAny, 3);
  EXPECT_TRUE(SetReadOnly(dir / "a.dat", false).ok());
  EXPECT_TRUE(CopyFileOver(dir / "a.dat", dir / "b.dat", true).ok());
  const OsResult failed = MoveNoReplace(dir / "b.dat", dir / "c.dat");
  EXPECT_TRUE(faults.Fired());
  EXPECT_EQ(failed.kind, OsErr::kOther);  // as the system's own error
  EXPECT_NE(failed.native, 0);
  EXPECT_TRUE(Exists(dir / "b.dat"));
  EXPECT_TRUE(MakeDirectory(dir / "sub").ok());  // a failure happens once
  EXPECT_EQ(faults.Calls(Call::kAny), 4u);
}

TEST(FaultInjection, DiskFullWritesWhatFitsThenFails) {
  test::TempDir dir;
  test::WriteFile(dir / "src.dat", "data");
  FaultScope faults;
  faults.DiskFullAfter(5);
  File f;
  ASSERT_TRUE(f.Open(dir / "a.dat", OpenMode::kCreateTruncate).ok());
  EXPECT_TRUE(f.Write("abc", 3).ok());
  EXPECT_FALSE(f.Write("defg", 4).ok());
  EXPECT_TRUE(faults.Fired());
  EXPECT_FALSE(f.Write("h", 1).ok());  // the disk stays full
  EXPECT_TRUE(f.Close().ok());
  EXPECT_EQ(test::ReadFile(dir / "a.dat"), "abcde");
  EXPECT_FALSE(CopyFileOver(dir / "src.dat", dir / "b.dat", true).ok());
  EXPECT_FALSE(Exists(dir / "b.dat"));
}

}  // namespace
}  // namespace veupd::os
