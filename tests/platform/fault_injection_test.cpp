// The fault plan: failures arrive at the planned call, as the system's own
// errors, and leave the handle and the file in the state a real one would.
#include <gtest/gtest.h>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

using fault::Call;
using fault::Failure;
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
