// Clean directory (opcode 2) and empty directory (opcode 7) on real folders.
#include "commands/clean_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "commands/fake_host.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using test::FakeHost;
using test::TempDir;
using test::WriteFile;

std::string N(const fs::path& p) { return p.string(); }
std::string DirAndMask(const fs::path& d, const std::string& mask) {
  return N(d) + os::kNativeSeparator + mask;
}

class CleanDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.path() / "work";
    WriteFile(root / "a.tmp", "");
    WriteFile(root / "b.dat", "");
    WriteFile(root / "x.tmp" / "c.tmp", "");
    WriteFile(root / "x.tmp" / "keep.dat", "");  // keeps x.tmp from being removed
    WriteFile(root / "y.tmp" / "d.tmp", "");
    WriteFile(root / "old" / "e.tmp", "");       // name does not match *.tmp
    WriteFile(root / ".svn" / "f.tmp", "");      // dot folder: never entered
  }
  ErrorCode Run(bool empty, const std::string& p1, const std::string& p2) {
    host.SetParams({p1, p2});
    return empty ? RunEmptyDirectory(host) : RunCleanDirectory(host);
  }
  TempDir dir;
  fs::path root;
  FakeHost host;
};

TEST_F(CleanDirectoryTest, CleanKeepsFoldersAndSkipsNonMatchingOnes) {
  EXPECT_TRUE(Run(false, N(root), "*.tmp").ok());
  EXPECT_FALSE(fs::exists(root / "a.tmp"));
  EXPECT_FALSE(fs::exists(root / "x.tmp" / "c.tmp"));
  EXPECT_FALSE(fs::exists(root / "y.tmp" / "d.tmp"));
  EXPECT_TRUE(fs::exists(root / "b.dat"));
  EXPECT_TRUE(fs::exists(root / "x.tmp" / "keep.dat"));
  EXPECT_TRUE(fs::is_directory(root / "y.tmp"));
  EXPECT_TRUE(fs::exists(root / "old" / "e.tmp"));
  EXPECT_TRUE(fs::exists(root / ".svn" / "f.tmp"));
  EXPECT_EQ(host.file_counter, 3u);
  EXPECT_EQ(host.checkpoint.done_items, 3u);
  ASSERT_EQ(host.steps.size(), 1u);
  EXPECT_TRUE(host.steps[0].success);
  EXPECT_EQ(host.steps[0].text, "Cleaning directory (3 files) (" + DirAndMask(root, "*.tmp") + ")");
}

TEST_F(CleanDirectoryTest, EmptyRemovesEmptiedFoldersAndCountsThem) {
  EXPECT_TRUE(Run(true, N(root), "*.tmp").ok());
  EXPECT_FALSE(fs::exists(root / "y.tmp"));          // emptied, removed
  EXPECT_TRUE(fs::exists(root / "x.tmp" / "keep.dat"));  // removal failed silently
  EXPECT_TRUE(fs::exists(root / "old" / "e.tmp"));
  EXPECT_TRUE(fs::is_directory(root));                // the named folder itself stays
  EXPECT_TRUE(host.errors.empty());
  // a.tmp, c.tmp, d.tmp and the folder y.tmp.
  EXPECT_EQ(host.file_counter, 4u);
  EXPECT_EQ(host.steps.at(0).text, "Cleaning directory (4 files) (" + DirAndMask(root, "*.tmp") + ")");
}

TEST_F(CleanDirectoryTest, EmptyWithStarStarClearsAllButDotFolders) {
  EXPECT_TRUE(Run(true, N(root), "*.*").ok());
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(root)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{".svn"});
  // a.tmp b.dat c.tmp keep.dat d.tmp e.tmp + folders x.tmp y.tmp old.
  EXPECT_EQ(host.file_counter, 9u);
}

TEST_F(CleanDirectoryTest, MissingFolderOrNoMatchSucceedsWithZero) {
  for (const auto& [folder, mask] : {std::pair{N(dir.path() / "nothing"), std::string("*.*")},
                                     std::pair{N(root), std::string("*.none")}}) {
    SCOPED_TRACE(folder + " " + mask);
    host = FakeHost();
    EXPECT_TRUE(Run(false, folder, mask).ok());
    EXPECT_EQ(host.steps.at(0).text, "Cleaning directory (0 files) (" + DirAndMask(folder, mask) + ")");
  }
}

// ---- failures

TEST_F(CleanDirectoryTest, MissingParametersNameTheirSlot) {
  struct Case {
    const char* name;
    std::string p1, p2, slot;
  } cases[] = {{"no folder", "", "*.*", "PARAM1"}, {"no mask", "d", "", "PARAM2"}};
  for (const Case& c : cases) {
    for (const bool empty : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (empty ? " empty" : " clean"));
      host = FakeHost();
      EXPECT_EQ(Run(empty, c.p1, c.p2), ErrorCode(Err::kParamMissing));
      EXPECT_EQ(test::Params(host.errors.at(0))[0], c.slot);
      ASSERT_EQ(host.steps.size(), 1u);
      EXPECT_EQ(host.steps[0].text, "Empty directory (" + c.p1 + os::kNativeSeparator + c.p2 + ")");
      EXPECT_EQ(host.steps[0].code, 4);
    }
  }
}

TEST_F(CleanDirectoryTest, ReadOnlyFileStopsWithError21) {
  test::MakeReadOnly(root / "x.tmp" / "c.tmp");
  EXPECT_EQ(Run(true, N(root), "*.tmp"), ErrorCode(Err::kCannotEmptyDirectory));
  ASSERT_EQ(host.ErrorCodes(), std::vector<std::uint16_t>{21});
  EXPECT_EQ(test::Params(host.errors[0])[0], N(root / "x.tmp" / "c.tmp"));
  ASSERT_EQ(host.steps.size(), 1u);
  EXPECT_FALSE(host.steps[0].success);
  EXPECT_EQ(host.steps[0].code, 0);
  EXPECT_EQ(host.steps[0].text, "Empty directory (" + DirAndMask(root, "*.tmp") + ")");
  // Name order: a.tmp went before, y.tmp after the stop.
  EXPECT_FALSE(fs::exists(root / "a.tmp"));
  EXPECT_TRUE(fs::exists(root / "y.tmp" / "d.tmp"));
  EXPECT_EQ(host.file_counter, 1u);
}

}  // namespace
}  // namespace veupd
