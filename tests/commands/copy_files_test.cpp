// Copy files (opcode 1) on real temporary folders through a fake host, also
// under failing file primitives: every target is left old or new (a refused
// replace keeps the verified copy under its "$U$" name), and the one error
// reported is the designed one for that step.
#include "commands/copy_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "commands/fake_host.h"
#include "fault_support.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using os::fault::Call;
using test::FakeHost;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Files = std::map<std::string, std::string>;  // '/' separated name -> content

std::string N(const fs::path& p) { return p.string(); }

void Put(const fs::path& root, const Files& files) {
  for (const auto& [name, content] : files) WriteFile(root / name, content);
}

// Where the file system folds case, which spelling a replaced name keeps
// is not visible: compare the names folded.
Files AsSeen(Files files, bool folds) {
  if (!folds) return files;
  Files folded;
  for (const auto& [name, content] : files) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
    folded[lower] = content;
  }
  return folded;
}

// Each copy run twice: the second one finds every target the first made.
TEST(CopyFilesTest, CopiesLeaveTheseTrees) {
  struct Case {
    Files src, dst;
    std::string pattern;
    std::uint32_t count;
    Files after;
  } cases[] = {
      // A target without a dot is replaced through "README.$U$".
      {{{"README", "fresh"}}, {{"README", "old"}, {"README.$U$", "stale"}}, "README", 1, {{"README", "fresh"}}},
      // Matching folders are searched and copied, even empty ones; others
      // and dot folders are not.
      {{{"a.dat", "a"}, {"b.txt", "b"}, {"sub.dat/c.dat", "c"}, {"sub.dat/d.txt", "d"}, {"other/e.dat", "e"},
        {".svn.dat/f.dat", "f"}},
       {},
       "*.dat",
       2,
       {{"a.dat", "a"}, {"sub.dat/c.dat", "c"}}},
      // Targets are found ignoring case; the copy takes the source's name,
      // an old temporary copy is overwritten and used.
      {{{"a.dat", "new a"}, {"b.dat", "new b"}, {"c.dat", "new c"}, {"sub/d.dat", "new d"}},
       {{"A.DAT", "old a"}, {"b.$U$", "stale"}, {"b.dat", "old b"}, {"SUB/d.dat", "old d"}},
       "*.*",
       4,
       {{"a.dat", "new a"}, {"b.dat", "new b"}, {"c.dat", "new c"}, {"SUB/d.dat", "new d"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    TempDir dir;
    const fs::path src = dir.path() / "src", dst = dir.path() / "dst";
    Put(src, c.src);
    Put(dst, c.dst);
    fs::create_directories(src / "empty.dat");
    const bool folds = fs::exists(dir.path() / "SRC");
    for (int run = 0; run < 2; ++run) {
      FakeHost host;
      EXPECT_TRUE(host.Run(RunCopyFiles, {N(src / c.pattern), N(dst)}).ok());
      EXPECT_EQ(host.file_counter, c.count);
      EXPECT_EQ(host.checkpoint.done_items, c.count);
      const std::string step = " file(s) (" + N(src / c.pattern) + " -> " + N(dst) + ")";
      test::ExpectOutcome(host, 0, {}, "Copying " + std::to_string(c.count) + step);
      EXPECT_EQ(AsSeen(test::Snapshot(dst), folds), AsSeen(c.after, folds));
      EXPECT_EQ(fs::is_directory(dst / "empty.dat"), c.pattern != "README");
    }
  }
}

// ---- failures: each reported once, then one failed step line

TEST(CopyFilesTest, RefusedCopies) {
  TempDir dir;
  const std::string dst = N(dir.path() / "dst");
  const std::string trailing = dst + os::kNativeSeparator;
  struct Case {
    std::string p1, p2;
    Err error;
    std::string param;
  } cases[] = {{"", "", Err::kParamMissing, "PARAM1"},
               {"", "x", Err::kParamMissing, "PARAM1"},
               {"y", "", Err::kParamMissing, "PARAM2"},
               {"plain.dat", dst, Err::kInvalidPath, "plain.dat"},  // no separator
               {"*.dat", dst, Err::kInvalidPath, "*.dat"},
               {N(dir.path() / "a.dat"), trailing, Err::kCannotCreateDirectory, trailing}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p1 + " -> " + c.p2);
    FakeHost host;
    EXPECT_EQ(host.Run(RunCopyFiles, {c.p1, c.p2}), ErrorCode(c.error));
    test::ExpectOutcome(host, static_cast<std::uint16_t>(c.error), {c.param},
                        "Copying file(s) (" + c.p1 + " -> " + c.p2 + ")");
  }
  // A read-only target from the listing stops the copy before the next file.
  Put(dir.path() / "src", {{"a.dat", "new a"}, {"b.dat", "new b"}});
  WriteFile(dir.path() / "dst" / "a.dat", "kept");
  test::MakeReadOnly(dir.path() / "dst" / "a.dat");
  FakeHost host;
  EXPECT_EQ(host.Run(RunCopyFiles, {N(dir.path() / "src" / "*.dat"), dst}), ErrorCode(Err::kCannotDeleteFile));
  EXPECT_EQ(test::Snapshot(dst), (Files{{"a.dat", "kept"}}));
}

TEST(CopyFilesTest, CopyChangedWhileCheckedIsCorruptedAndTargetKept) {
  TempDir dir;
  WriteFile(dir.path() / "src" / "big.dat", std::string(200000, 'x'));
  WriteFile(dir.path() / "dst" / "big.dat", "old");
  const fs::path temp = dir.path() / "dst" / "big.$U$";
  bool changed = false;
  FakeHost host;
  host.crc.hook = [&](std::uint32_t phase, std::uint32_t done) {
    if (phase != 2 || done != 0 || changed) return;
    // Change the copy's tail before the checksum reaches it.
    std::fstream f(temp, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(150000);
    changed = static_cast<bool>(f.write("y", 1).flush());
  };
  const ErrorCode rc = host.Run(RunCopyFiles, {N(dir.path() / "src" / "big.dat"), N(dir.path() / "dst")});
  if (!changed) GTEST_SKIP() << "the platform keeps writers out while a file is checksummed";
  EXPECT_EQ(rc, ErrorCode(Err::kCopyCorrupted));
  ASSERT_EQ(host.errors.size(), 1u);
  const auto params = host.errors[0].params;
  ASSERT_EQ(params.size(), 4u);
  EXPECT_EQ(params[0], N(dir.path() / "src" / "big.dat"));
  EXPECT_EQ(params[2], N(temp));
  EXPECT_EQ(params[1].size(), 8u);
  EXPECT_NE(params[1], params[3]);
  EXPECT_EQ(ReadFile(dir.path() / "dst" / "big.dat"), "old");
  EXPECT_TRUE(fs::exists(temp));  // left for inspection, as the log says
}

struct Target {
  const char* name;
  const char* temp;      // "$U$" name when the target exists before, else null
  const char* old_data;  // null: absent before
  std::string new_data;
};

const Target kTargets[] = {
    {"a.dat", "a.$U$", "old a", std::string(70000, 'n')},  // several checksum reads
    {"b.dat", nullptr, nullptr, "new b"},
    {"c.dat", "c.$U$", "old c", "new c (read-only source)"},
    {"sub/d.dat", nullptr, nullptr, "new d"},
};

// The errors each failing primitive may lead to while copying.
const test::DesignedErrors kDesignedErrors = {
    {Call::kOpen, {Err::kCannotOpenSource, Err::kCannotCopy}},
    {Call::kRead, {Err::kCannotOpenSource}},
    {Call::kFlush, {Err::kCannotCopy}},
    {Call::kClose, {Err::kCannotCopy}},
    {Call::kCopy, {Err::kCannotCopy}},
    // The replacing rename: a target that refuses it counts as one that
    // cannot be deleted, any other failure as a failed copy.
    {Call::kMove, {Err::kCannotCopy, Err::kCannotDeleteFile}},
    {Call::kRemove, {Err::kCannotDeleteFile}},
    {Call::kMakeDirectory, {Err::kCannotCreateDirectory}},
    {Call::kSetAttributes, {Err::kCannotCopy}},
};

// Copies kTargets while calls of a kind fail and checks what is left in
// the target folder.
void CopyAndCheck(Call call, ErrorCode& rc) {
  TempDir dir;
  const fs::path src = dir.path() / "src", tgt = dir.path() / "tgt";
  for (const Target& t : kTargets) {
    WriteFile(src / t.name, t.new_data);
    if (t.old_data != nullptr) WriteFile(tgt / t.name, t.old_data);
  }
  test::MakeReadOnly(src / "c.dat");
  FakeHost host;
  rc = host.Run(RunCopyFiles, {N(src / "*"), N(tgt)});
  auto left = test::Snapshot(tgt);
  for (const Target& t : kTargets) {
    SCOPED_TRACE(t.name);
    if (t.temp != nullptr && left.count(t.temp) != 0) {
      EXPECT_EQ(left[t.temp], t.new_data) << "a kept temporary copy is the verified one";
      left.erase(t.temp);
    }
    const auto found = left.find(t.name);
    if (found == left.end()) {
      // The old target stays until the verified copy replaces it in one rename.
      EXPECT_TRUE(t.old_data == nullptr && !rc.ok()) << "a target was lost";
      continue;
    }
    EXPECT_TRUE(found->second == t.new_data || (!rc.ok() && t.old_data != nullptr && found->second == t.old_data));
    left.erase(found);
  }
  test::ExpectNothingLeft(left);
  ASSERT_EQ(host.steps.size(), 1u);
  EXPECT_EQ(host.steps[0].success, rc.ok());
  EXPECT_EQ(host.errors.size(), rc.ok() ? 0u : 1u);
  if (!rc.ok()) {
    EXPECT_EQ(host.steps[0].text, "Copying file(s) (" + N(src / "*") + " -> " + N(tgt) + ")");
    EXPECT_EQ(host.errors.at(0).code, rc.code());
    test::ExpectDesignedError(kDesignedErrors, call, rc.code());
  }
}

TEST(CopyFilesFaultTest, EveryFailingCallLeavesEachTargetOldOrVerifiedNew) {
  test::ForEveryFileFault([&](const test::FaultCase& c, os::fault::FaultScope&) {
    ErrorCode rc;
    CopyAndCheck(c.call, rc);
  });
}

// A refused replace names the target that could not be deleted; a rename
// that fails otherwise names both files. Two targets exist before.
TEST(CopyFilesFaultTest, FailingReplaceIsReportedAsDesigned) {
  for (const auto& [failure, expected] : {std::pair{os::fault::Failure::kAccessDenied, Err::kCannotDeleteFile},
                                          std::pair{os::fault::Failure::kSharing, Err::kCannotDeleteFile},
                                          std::pair{os::fault::Failure::kIo, Err::kCannotCopy}}) {
    const test::FaultCase rename{Call::kMove, failure, "move"};
    EXPECT_EQ(test::ForEachFailingCall(rename,
                                       [&](os::fault::FaultScope& faults) {
                                         ErrorCode rc;
                                         CopyAndCheck(Call::kMove, rc);
                                         EXPECT_EQ(rc, faults.Fired() ? ErrorCode(expected) : ErrorCode());
                                       }),
              2u);
  }
}

}  // namespace
}  // namespace veupd
