// Copy files under failing file primitives: every target is left old or
// new (a refused replace keeps the verified copy under its "$U$" name), and
// the one error reported is the designed one for that step.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "commands/copy_files.h"
#include "commands/fake_host.h"
#include "fault_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using os::fault::Call;
using test::FakeHost;
using test::TempDir;
using test::WriteFile;

struct Target {
  const char* name;
  const char* temp;      // "$U$" name when the target exists before, else null
  const char* old_data;  // null: absent before
  std::string new_data;
};

const std::string kLargeNew(70000, 'n');  // several checksum reads

std::uint16_t Code(Err e) { return static_cast<std::uint16_t>(e); }

const Target kTargets[] = {
    {"a.dat", "a.$U$", "old a", kLargeNew},
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

class CopyFilesFaultTest : public ::testing::Test {
 protected:
  struct Run {
    TempDir dir;
    FakeHost host;
    ErrorCode rc;
    std::string source, target_dir;
  };

  static void Prepare(Run& run) {
    const fs::path src = run.dir.path() / "src";
    const fs::path tgt = run.dir.path() / "tgt";
    for (const Target& t : kTargets) {
      WriteFile(src / t.name, t.new_data);
      if (t.old_data != nullptr) WriteFile(tgt / t.name, t.old_data);
    }
    fs::create_directories(tgt);
    test::MakeReadOnly(src / "c.dat");
    run.source = (src / "*").string();
    run.target_dir = tgt.string();
  }

  // What is left in the target folder after one run, failed or not.
  static void CheckLeftovers(const Run& run, Call call) {
    const fs::path tgt = run.dir.path() / "tgt";
    auto left = test::Snapshot(tgt);
    const FakeHost& host = run.host;
    for (const Target& t : kTargets) {
      SCOPED_TRACE(t.name);
      const auto found = left.find(t.name);
      if (t.temp != nullptr) {
        const auto temp = left.find(t.temp);
        if (temp != left.end()) {
          EXPECT_EQ(temp->second, t.new_data) << "a kept temporary copy is the verified one";
          left.erase(temp);
        }
      }
      if (found == left.end()) {
        // The old target stays until the verified copy replaces it in one rename.
        EXPECT_EQ(t.old_data, nullptr) << "an existing target was lost";
        continue;
      }
      if (t.old_data == nullptr || found->second != t.old_data) {
        EXPECT_EQ(found->second, t.new_data);
      }
      left.erase(found);
    }
    test::ExpectNothingLeft(left);

    const std::string failed_step = "Copying file(s) (" + run.source + " -> " + run.target_dir + ")";
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_EQ(host.steps[0].success, run.rc.ok());
    if (run.rc.ok()) {
      EXPECT_TRUE(host.errors.empty());
      for (const Target& t : kTargets) EXPECT_EQ(test::ReadFile(tgt / t.name), t.new_data) << t.name;
      return;
    }
    EXPECT_EQ(host.steps[0].text, failed_step);
    EXPECT_EQ(host.steps[0].code, run.rc.code());
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0].code, run.rc.code());
    test::ExpectDesignedError(kDesignedErrors, call, run.rc.code());
  }
};

TEST_F(CopyFilesFaultTest, EveryFailingCallLeavesEachTargetOldOrVerifiedNew) {
  test::ForEveryFileFault([&](const test::FaultCase& c, os::fault::FaultScope&) {
    Run run;
    Prepare(run);
    run.rc = run.host.Run(RunCopyFiles, {run.source, run.target_dir});
    CheckLeftovers(run, c.call);
  });
}

TEST_F(CopyFilesFaultTest, FailingReplaceIsReportedAsDesigned) {
  // A refused replace names the target that could not be deleted; a rename
  // that fails otherwise names both files. Two targets exist before.
  struct Case {
    os::fault::Failure failure;
    Err expected;
  };
  for (const Case c : {Case{os::fault::Failure::kAccessDenied, Err::kCannotDeleteFile},
                       Case{os::fault::Failure::kSharing, Err::kCannotDeleteFile},
                       Case{os::fault::Failure::kIo, Err::kCannotCopy}}) {
    const test::FaultCase rename{Call::kMove, c.failure, "move"};
    EXPECT_EQ(test::ForEachFailingCall(rename, [&](os::fault::FaultScope& faults) {
                Run run;
                Prepare(run);
                run.rc = run.host.Run(RunCopyFiles, {run.source, run.target_dir});
                CheckLeftovers(run, Call::kMove);
                EXPECT_EQ(run.rc.code(), faults.Fired() ? Code(c.expected) : 0);
              }),
              2u);
  }
}

}  // namespace
}  // namespace veupd
