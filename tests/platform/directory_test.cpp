// Path rules, directory search and the whole-file operations: what is
// refused, and the names that folders and new files get.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

std::vector<std::string> SearchNames(const std::string& pattern) {
  std::vector<std::string> names;
  DirSearch search;
  if (!search.Start(pattern).ok()) return names;
  DirEntry e;
  while (search.Next(e)) names.push_back(e.name);
  return names;
}

TEST(DirSearch, NothingFound) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "a.dat", "1");
  DirSearch search;
  EXPECT_EQ(search.Start(dir / "*.txt").kind, OsErr::kNotFound);
  EXPECT_EQ(search.Start(dir / "missing/*").kind, OsErr::kNotFound);
  EXPECT_EQ(search.Start(dir.str() + "\\").kind, OsErr::kNotFound);
  DirEntry e;
  EXPECT_FALSE(search.Next(e));
}

TEST(FileOps, CopyOverwritesOnlyWhenAskedAndNeverReadOnlyFiles) {
  test::TempDir dir;
  test::WriteFile(dir / "src.dat", "new");
  test::WriteFile(dir / "dst.dat", "old but longer");
  EXPECT_EQ(CopyFileOver(dir / "src.dat", dir / "dst.dat", /*overwrite=*/false).kind, OsErr::kExists);
  EXPECT_EQ(test::ReadFile(dir / "dst.dat"), "old but longer");
  ASSERT_TRUE(CopyFileOver(dir / "src.dat", dir / "DST.DAT", /*overwrite=*/true).ok());
  EXPECT_EQ(test::ReadFile(dir / "dst.dat"), "new");
  ASSERT_TRUE(SetReadOnly(dir / "src.dat", true).ok());
  EXPECT_EQ(CopyFileOver(dir / "dst.dat", dir / "src.dat", /*overwrite=*/true).kind, OsErr::kAccessDenied);
  EXPECT_EQ(test::ReadFile(dir / "src.dat"), "new");
  EXPECT_EQ(CopyFileOver(dir / "none.dat", dir / "x.dat", /*overwrite=*/true).kind, OsErr::kNotFound);
}

TEST(FileOps, DirectoriesAreMadeAndRemoved) {
  test::TempDir dir;
  ASSERT_TRUE(MakeDirectory(dir / "Sub").ok());
  EXPECT_TRUE(IsDirectory(dir / "sub"));
  EXPECT_EQ(MakeDirectory(dir / "SUB").kind, OsErr::kExists);
  test::WriteFile(dir.path() / "Sub" / "f", "1");
  EXPECT_FALSE(RemoveFolder(dir / "sub").ok());
  EXPECT_EQ(RemoveFile(dir / "sub").kind, OsErr::kAccessDenied);
  ASSERT_TRUE(RemoveFile(dir / "sub/f").ok());
  ASSERT_TRUE(RemoveFolder(dir / "sub").ok());
  EXPECT_FALSE(Exists(dir / "Sub"));
}

TEST(FolderNames, FindsIgnoringCaseAndFollowsItsOwnChanges) {
  test::TempDir dir;
  for (const char* name : {"b.dat", "B.DAT", "a.dat"}) test::WriteFile(dir.path() / name, "1");
  // Where spellings are one name, "B.DAT" wrote into "b.dat".
  const bool two_spellings = std::distance(std::filesystem::directory_iterator(dir.path()),
                                           std::filesystem::directory_iterator()) == 3;
  FolderNames names;
  names.Load(dir.str());
  const std::pair<const char*, const char*> cases[] = {
      {"A.DAT", "a.dat"}, {"b.Dat", two_spellings ? "B.DAT" : "b.dat"},  // first in name order
      {"c.dat", ""},      {"a.da", ""},
      {".", "."}};
  for (const auto& [name, found] : cases) {
    const DirEntry* entry = names.Find(name);
    EXPECT_EQ(entry == nullptr ? "" : entry->name, found) << name;
  }
  names.Add(DirEntry{"C.dat", false, false, 0});
  names.Remove("B.dat");
  ASSERT_NE(names.Find("c.DAT"), nullptr);
  const DirEntry* left = names.Find("b.dat");
  EXPECT_EQ(left == nullptr ? "" : left->name, two_spellings ? "b.dat" : "");

  FolderNames missing;
  missing.Load(dir / "none");
  EXPECT_EQ(missing.Find("a.dat"), nullptr);
}

// The folder may be named in another case; the new name is kept as written,
// also when a move changes only the case.
TEST(FileOps, CopyAndMoveToNewNameTakeTheNameAsWritten) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "Sub" / "src.dat", "payload");
  test::WriteFile(dir.path() / "Sub" / "taken.dat", "old");
  ASSERT_TRUE(CopyFileToNewName(dir / "sub/SRC.DAT", dir / "sub/New.dat").ok());
  EXPECT_EQ(test::ReadFile(dir.path() / "Sub" / "New.dat"), "payload");
  EXPECT_EQ(CopyFileToNewName(dir / "Sub/src.dat", dir / "Sub/taken.dat").kind, OsErr::kExists);
  EXPECT_EQ(test::ReadFile(dir.path() / "Sub" / "taken.dat"), "old");
  EXPECT_EQ(CopyFileToNewName(dir / "Sub/none.dat", dir / "Sub/x.dat").kind, OsErr::kNotFound);
  EXPECT_FALSE(Exists(dir / "Sub/x.dat"));

  EXPECT_EQ(MoveToNewName(dir / "Sub/New.dat", dir / "Sub/taken.dat").kind, OsErr::kExists);
  ASSERT_TRUE(MoveToNewName(dir / "Sub/New.dat", dir / "sub/Moved.dat").ok());
  ASSERT_TRUE(MoveNoReplace(dir / "Sub/src.dat", dir / "Sub/SRC.DAT").ok());
  EXPECT_EQ(SearchNames(dir / "Sub/*.dat"), (std::vector<std::string>{"Moved.dat", "SRC.DAT", "taken.dat"}));
}

TEST(Paths, JoinAddsOneSeparatorOnlyWhenNeeded) {
  EXPECT_EQ(JoinPath("dir", "a.dat"), "dir" + std::string(1, kNativeSeparator) + "a.dat");
  EXPECT_EQ(JoinPath("dir\\", "a.dat"), "dir\\a.dat");
  EXPECT_EQ(JoinPath("", "a.dat"), "a.dat");
}

// As the Windows search matches: case ignored, "*.*" and a trailing ".*"
// match names without a dot, '?' is exactly one character.
TEST(Paths, WildcardMatchesAsTheWindowsSearch) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*", "A.DAT", true},           {"*", "README", true},           {"*.*", "a.dat", true},
      {"*.*", "README", true},        {"*.*", "..", true},             {"a*.dat", "a.dat", true},
      {"*.DAT", "table.dat", true},   {"TaBlE.dAt", "TABLE.DAT", true}, {"*.DAT", "table.dax", false},
      {"*.DAT", "table.data", false}, {"a?c", "abc", true},            {"a?c", "ac", false},
      {"a?c", "a.c", true},           {"upd???.log", "upd001.log", true}, {"upd???.log", "upd01.log", false},
      {"readme.*", "README", true},   {"readme.*", "readme.txt", true}, {"readme.*", "readmex", false},
      {"*a*b*", "xxaYYbZZ", true},    {"*a*b*", "xxbYYaZZ", false},    {"a.dat", "b.dat", false},
      {"*", ".", true},               {"*.tar.gz", "x.TAR.GZ", true},  {"", "a", false},
  };
  for (const Case& c : cases) EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
}

}  // namespace
}  // namespace veupd::os
