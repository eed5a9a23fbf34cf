// Clean directory (opcode 2) and empty directory (opcode 7) on real folders.
#include "commands/clean_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "commands/fake_host.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using test::ExpectOutcome;
using test::FakeHost;

struct Tree {
  Tree() {
    for (const char* name : {"a.tmp", "b.dat", "x.tmp/c.tmp", "x.tmp/keep.dat", "y.tmp/d.tmp", "old/e.tmp",
                             ".svn/f.tmp"}) {
      test::WriteFile(root / name, "");
    }
  }
  ErrorCode Run(bool empty, const std::string& p1, const std::string& p2) {
    return host.Run(empty ? RunEmptyDirectory : RunCleanDirectory, {p1, p2});
  }
  test::TempDir dir;
  fs::path root = dir.path() / "work";
  FakeHost host;
};

std::string DirAndMask(const std::string& d, const std::string& mask) { return d + os::kNativeSeparator + mask; }

// Clean keeps folders; empty removes the emptied ones and counts them.
// Folders that do not match and dot folders are never entered.
TEST(CleanDirectoryTest, RemovesMatchingFilesAndCountsThem) {
  struct Case {
    bool empty;
    std::string folder, mask;
    test::Strings gone, there;
    std::uint32_t count;
  } cases[] = {
      {false, "work", "*.tmp", {"a.tmp", "x.tmp/c.tmp", "y.tmp/d.tmp"},
       {"b.dat", "x.tmp/keep.dat", "y.tmp", "old/e.tmp", ".svn/f.tmp"}, 3},
      // a.tmp, c.tmp, d.tmp and y.tmp; x.tmp keeps a file and stays silently.
      {true, "work", "*.tmp", {"a.tmp", "x.tmp/c.tmp", "y.tmp"}, {"b.dat", "x.tmp/keep.dat", "old/e.tmp", ".svn/f.tmp"},
       4},
      {true, "work", "*.*", {"a.tmp", "b.dat", "x.tmp", "y.tmp", "old"}, {".svn/f.tmp"}, 9},
      {false, "nothing", "*.*", {}, {}, 0},
      {false, "work", "*.none", {}, {"a.tmp"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + " " + c.mask);
    Tree t;
    const std::string folder = t.dir / c.folder;
    EXPECT_TRUE(t.Run(c.empty, folder, c.mask).ok());
    for (const auto& name : c.gone) EXPECT_FALSE(fs::exists(t.root / name)) << name;
    for (const auto& name : c.there) EXPECT_TRUE(fs::exists(t.root / name)) << name;
    EXPECT_EQ(t.host.file_counter, c.count);
    if (!c.empty) {
      EXPECT_EQ(t.host.checkpoint.done_items, c.count);
    }
    ExpectOutcome(t.host, 0, {},
                  "Cleaning directory (" + std::to_string(c.count) + " files) (" + DirAndMask(folder, c.mask) + ")");
  }
}

TEST(CleanDirectoryTest, MissingParametersNameTheirSlot) {
  for (const bool empty : {false, true}) {
    for (const auto& [p1, p2, slot] : {std::tuple{"", "*.*", "PARAM1"}, std::tuple{"d", "", "PARAM2"}}) {
      Tree t;
      EXPECT_EQ(t.Run(empty, p1, p2), ErrorCode(Err::kParamMissing));
      ExpectOutcome(t.host, 4, {slot}, "Empty directory (" + DirAndMask(p1, p2) + ")");
    }
  }
}

TEST(CleanDirectoryTest, ReadOnlyFileStopsWithError21) {
  Tree t;
  test::MakeReadOnly(t.root / "x.tmp" / "c.tmp");
  EXPECT_EQ(t.Run(true, t.root.string(), "*.tmp"), ErrorCode(Err::kCannotEmptyDirectory));
  ASSERT_EQ(t.host.errors.size(), 1u);
  EXPECT_EQ(t.host.errors[0].code, 21);
  EXPECT_EQ(t.host.errors[0].params, test::Strings{(t.root / "x.tmp" / "c.tmp").string()});
  ASSERT_EQ(t.host.steps.size(), 1u);
  EXPECT_FALSE(t.host.steps[0].success);
  EXPECT_EQ(t.host.steps[0].code, 0);
  EXPECT_EQ(t.host.steps[0].text, "Empty directory (" + DirAndMask(t.root.string(), "*.tmp") + ")");
  // Name order: a.tmp went before, y.tmp after the stop.
  EXPECT_FALSE(fs::exists(t.root / "a.tmp"));
  EXPECT_TRUE(fs::exists(t.root / "y.tmp" / "d.tmp"));
  EXPECT_EQ(t.host.file_counter, 1u);
}

}  // namespace
}  // namespace veupd
