// Command-line splitting, started processes, modules, and share-mode locks
// between two processes (the second one is this program as a helper).
#include <gtest/gtest.h>

#include "helper.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

constexpr std::uint32_t kWaitMs = 30000;
constexpr unsigned kReadyMs = 30000;

struct SplitCase {
  const char* label;
  const char* line;
  std::vector<std::string> args;
};

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, FollowsTheWindowsRules) {
  EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().args) << GetParam().line;
}

const SplitCase kSplitCases[] = {
    {"Empty", "", {}},
    {"OnlyBlanks", " \t ", {}},
    {"BlanksAndTabsSeparate", "prog  a\tb  ", {"prog", "a", "b"}},
    {"QuotesGroup", "prog \"a b\" c", {"prog", "a b", "c"}},
    {"QuotesInsideWord", "prog a\"b c\"d", {"prog", "ab cd"}},
    {"EmptyQuotedArgument", "prog \"\" x", {"prog", "", "x"}},
    {"UnclosedQuoteRunsToEnd", "prog \"a b", {"prog", "a b"}},
    {"BackslashesLiteral", "prog a\\\\b\\c", {"prog", "a\\\\b\\c"}},
    {"EscapedQuote", "prog a\\\"b", {"prog", "a\"b"}},
    {"EvenBackslashesThenQuote", "prog \"a\\\\\" b", {"prog", "a\\", "b"}},
    {"OddBackslashesThenQuote", "prog a\\\\\\\"b", {"prog", "a\\\"b"}},
    {"TrailingBackslashInQuotes", "prog \"c:\\dir\\\\\"", {"prog", "c:\\dir\\"}},
    {"DoubledQuoteInsideQuotes", "prog \"a\"\"b\"", {"prog", "a\"b"}},
    {"QuotedProgramWithBlank", "\"c:\\my dir\\p.exe\" x", {"c:\\my dir\\p.exe", "x"}},
    {"ProgramNameHasNoEscapes", "c:\\dir\\\"p x", {"c:\\dir\\\"p", "x"}},
    {"ProgramQuoteEndsAtNextQuote", "\"a\\\"b c", {"a\\", "b", "c"}},
    {"LeadingBlanksSkipped", "   prog x", {"prog", "x"}},
};

INSTANTIATE_TEST_SUITE_P(Table, Split, testing::ValuesIn(kSplitCases),
                         [](const testing::TestParamInfo<SplitCase>& info) { return info.param.label; });

// Error paths.
TEST(Process, WaitsTellEndTimeoutAndFailure) {
  Process never_started;
  EXPECT_EQ(never_started.WaitHandlingMessages(10), Process::WaitResult::kFailed);

  test::TempDir dir;
  test::WriteFile(dir / "f", "x");
  Process p;
  ASSERT_TRUE(p.Start(test::HelperCommand() + " --hold 0 \"" + (dir / "f") + "\" \"" + (dir / "ready") + "\" \"" +
                          (dir / "release") + "\"",
                      "", ShowCommand::kShow)
                  .ok());
  ASSERT_TRUE(test::WaitForFile(dir / "ready", kReadyMs));
  EXPECT_FALSE(p.Wait(50));
  EXPECT_EQ(p.WaitHandlingMessages(50), Process::WaitResult::kTimeout);
  test::WriteFile(dir / "release", "");
  EXPECT_EQ(p.WaitHandlingMessages(kWaitMs), Process::WaitResult::kEnded);
  EXPECT_EQ(p.ExitCode(), 0u);
  EXPECT_EQ(p.WaitHandlingMessages(0), Process::WaitResult::kEnded);  // stays ended
}

TEST(Process, MissingProgramFailsToStart) {
  test::TempDir dir;
  Process p;
  EXPECT_FALSE(p.Start("\"" + (dir / "no_such_program") + "\" x", "").ok());
  EXPECT_FALSE(p.Start("", "").ok());
  EXPECT_FALSE(p.Start(test::HelperCommand() + " --exit 0", dir / "no_such_dir").ok());
}

TEST(Module, MissingModuleIsNotFound) {
  test::TempDir dir;
  Module m;
  EXPECT_EQ(m.Load(dir / "none.dll").kind, OsErr::kNotFound);
  EXPECT_FALSE(m.IsLoaded());
  EXPECT_EQ(m.Symbol("anything"), nullptr);
}

// The holder opens the file in another process; the table says whether a
// second open in this process must meet a sharing conflict. Only cases on
// which both systems agree: a plain reader next to an exclusive writer is
// refused on Windows but not on POSIX, where plain opens take no lock.
struct LockCase {
  const char* label;
  OpenMode held;
  OpenMode tried;
  bool conflict;
};

class Locks : public testing::TestWithParam<LockCase> {};

class Holder {
 public:
  Holder(const test::TempDir& dir, const std::string& file, OpenMode mode)
      : ready_(dir / "ready"), release_(dir / "release") {
    started_ = process_
                   .Start(test::HelperCommand() + " --hold " + std::to_string(static_cast<int>(mode)) + " \"" +
                              file + "\" \"" + ready_ + "\" \"" + release_ + "\"",
                          "")
                   .ok();
  }
  ~Holder() { (void)Release(); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  [[nodiscard]] bool Ready() const { return started_ && test::WaitForFile(ready_, kReadyMs); }
  // True when the helper held the file and ended normally.
  [[nodiscard]] bool Release() {
    if (!started_) return false;
    started_ = false;
    test::WriteFile(release_, "");
    return process_.Wait(kWaitMs) && process_.ExitCode() == 0;
  }

 private:
  std::string ready_, release_;
  Process process_;
  bool started_ = false;
};

TEST_P(Locks, SecondOpenFromOtherProcess) {
  const LockCase& c = GetParam();
  test::TempDir dir;
  test::WriteFile(dir / "shared.dat", "content");
  Holder holder(dir, dir / "shared.dat", c.held);
  ASSERT_TRUE(holder.Ready());
  File f;
  const OsResult r = f.Open(dir / "shared.dat", c.tried);
  if (c.conflict) {
    EXPECT_EQ(r.kind, OsErr::kSharing) << r.Text();
  } else {
    EXPECT_TRUE(r.ok()) << r.Text();
  }
  (void)f.Close();
  ASSERT_TRUE(holder.Release());
  EXPECT_EQ(test::ReadFile(dir / "shared.dat"), "content");  // a refused truncation truncates nothing
  // Once the holder is gone the file opens in any mode.
  EXPECT_TRUE(f.Open(dir / "shared.dat", OpenMode::kReadWriteExisting).ok());
}

const LockCase kLockCases[] = {
    {"WriterBlocksDenyWriteReader", OpenMode::kReadWriteCreate, OpenMode::kReadDenyWrite, true},
    {"WriterBlocksWriter", OpenMode::kReadWriteCreate, OpenMode::kReadWriteExisting, true},
    {"WriterBlocksTruncation", OpenMode::kReadWriteExisting, OpenMode::kCreateTruncate, true},
    {"LogWriterBlocksDenyWriteReader", OpenMode::kReadWriteShareRead, OpenMode::kReadDenyWrite, true},
    {"LogWriterLetsPlainReaderIn", OpenMode::kReadWriteShareRead, OpenMode::kRead, false},
    {"DenyWriteReadersShare", OpenMode::kReadDenyWrite, OpenMode::kReadDenyWrite, false},
    {"DenyWriteReaderBlocksWriter", OpenMode::kReadDenyWrite, OpenMode::kReadWriteCreate, true},
};

INSTANTIATE_TEST_SUITE_P(Table, Locks, testing::ValuesIn(kLockCases),
                         [](const testing::TestParamInfo<LockCase>& info) { return info.param.label; });

TEST(Locks, HeldFileCannotBeDeletedOrCopiedOrRenamedOver) {
  test::TempDir dir;
  test::WriteFile(dir / "held.dat", "content");
  test::WriteFile(dir / "src.dat", "other");
  Holder holder(dir, dir / "held.dat", OpenMode::kReadDenyWrite);
  ASSERT_TRUE(holder.Ready());
  EXPECT_EQ(RemoveFile(dir / "held.dat").kind, OsErr::kSharing);
  EXPECT_EQ(CopyFileOver(dir / "src.dat", dir / "held.dat", /*overwrite=*/true).kind, OsErr::kSharing);
  EXPECT_FALSE(MoveReplace(dir / "src.dat", dir / "held.dat").ok());
  EXPECT_EQ(test::ReadFile(dir / "src.dat"), "other");
  ASSERT_TRUE(holder.Release());
  EXPECT_EQ(test::ReadFile(dir / "held.dat"), "content");
}

TEST(Locks, StartedProgramInheritsNoOpenFile) {
  test::TempDir dir;
  test::WriteFile(dir / "mine.dat", "content");
  test::WriteFile(dir / "other.dat", "x");
  File mine;
  ASSERT_TRUE(mine.Open(dir / "mine.dat", OpenMode::kReadWriteExisting).ok());
  Holder holder(dir, dir / "other.dat", OpenMode::kRead);
  ASSERT_TRUE(holder.Ready());
  ASSERT_TRUE(mine.Close().ok());
  // Had the child inherited the handle, its copy would still hold the lock.
  File again;
  EXPECT_TRUE(again.Open(dir / "mine.dat", OpenMode::kReadWriteExisting).ok());
  ASSERT_TRUE(holder.Release());
}

}  // namespace
}  // namespace veupd::os
