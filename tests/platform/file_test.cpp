// Path rules, directory search, file handles, whole-file operations, text-mode reading and the fault plan.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#endif

#include <filesystem>
#include <iterator>
#include <tuple>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd::os {
namespace {

// Read-only files refuse writers, even administrators; a folder is no file; a moved handle stays open.
TEST(FileOps, CopyMoveAndMakeFoldersAndSearch) {
  test::TempDir dir;
  test::WriteFile(dir / "src.dat", "new");
  test::WriteFile(dir / "dst.dat", "old but longer");
  EXPECT_EQ(CopyFileOver(dir / "src.dat", dir / "dst.dat", /*overwrite=*/false).kind, OsErr::kExists);
  EXPECT_EQ(test::ReadFile(dir / "dst.dat"), "old but longer");
  ASSERT_TRUE(CopyFileOver(dir / "src.dat", dir / "DST.DAT", /*overwrite=*/true).ok());
  EXPECT_EQ(test::ReadFile(dir / "dst.dat"), "new");
  EXPECT_EQ(CopyFileOver(dir / "none.dat", dir / "x.dat", /*overwrite=*/true).kind, OsErr::kNotFound);
  ASSERT_TRUE(SetReadOnly(dir / "src.dat", true).ok());
  EXPECT_EQ(CopyFileOver(dir / "dst.dat", dir / "src.dat", /*overwrite=*/true).kind, OsErr::kAccessDenied);
  File f;
  EXPECT_EQ(f.Open(dir / "src.dat", OpenMode::kReadWriteExisting).kind, OsErr::kAccessDenied);
  EXPECT_EQ(f.Open(dir / "src.dat", OpenMode::kCreateTruncate).kind, OsErr::kAccessDenied);
  EXPECT_EQ(f.Open(dir.str(), OpenMode::kRead).kind, OsErr::kAccessDenied);
  ASSERT_TRUE(f.Open(dir / "src.dat", OpenMode::kRead).ok());
  File moved(std::move(f));
  EXPECT_TRUE(moved.IsOpen());
  char bytes[8];
  std::size_t got = 0;
  EXPECT_TRUE(moved.Read(bytes, sizeof bytes, got).ok());
  EXPECT_EQ(std::string(bytes, got), "new");

  ASSERT_TRUE(MakeDirectory(dir / "Sub").ok());
  EXPECT_TRUE(IsDirectory(dir / "sub"));
  EXPECT_EQ(MakeDirectory(dir / "SUB").kind, OsErr::kExists);
  test::WriteFile(dir.path() / "Sub" / "f", "1");
  EXPECT_FALSE(RemoveFolder(dir / "sub").ok());
  EXPECT_EQ(RemoveFile(dir / "sub").kind, OsErr::kAccessDenied);
  ASSERT_TRUE(RemoveFile(dir / "sub/f").ok());
  ASSERT_TRUE(RemoveFolder(dir / "sub").ok());
  EXPECT_FALSE(Exists(dir / "Sub"));

  // The folder may be named in another case; a new name is kept as written, also by a move of the case only.
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
  DirSearch search;
  DirEntry e;
  std::vector<std::string> names;
  ASSERT_TRUE(search.Start(dir / "Sub/*.dat").ok());
  while (search.Next(e)) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Moved.dat", "SRC.DAT", "taken.dat"}));
  for (const std::string& pattern : {dir / "Sub/*.txt", dir / "missing/*", dir.str() + "\\"}) {
    EXPECT_EQ(search.Start(pattern).kind, OsErr::kNotFound) << pattern;
  }
  EXPECT_FALSE(search.Next(e));
}

TEST(FolderNames, FindsIgnoringCaseAndFollowsItsOwnChanges) {
  test::TempDir dir;
  for (const char* name : {"b.dat", "B.DAT", "a.dat"}) test::WriteFile(dir.path() / name, "1");
  // Where spellings are one name, "B.DAT" wrote into "b.dat".
  const bool two_spellings = std::distance(std::filesystem::directory_iterator(dir.path()),
                                           std::filesystem::directory_iterator()) == 3;
  FolderNames names;
  names.Load(dir.str());
  auto found = [&](const char* name) {
    const DirEntry* entry = names.Find(name);
    return entry == nullptr ? "" : entry->name;
  };
  const std::pair<const char*, const char*> cases[] = {
      {"A.DAT", "a.dat"}, {"b.Dat", two_spellings ? "B.DAT" : "b.dat"}, {"c.dat", ""}, {"a.da", ""}, {".", "."}};
  for (const auto& [name, entry] : cases) EXPECT_EQ(found(name), entry) << name;
  names.Add(DirEntry{"C.dat", false, false, 0});
  names.Remove("B.dat");
  EXPECT_EQ(found("c.DAT"), "C.dat");
  EXPECT_EQ(found("b.dat"), two_spellings ? "b.dat" : "");
  names.Load(dir / "none");
  EXPECT_EQ(found("a.dat"), "");
}

TEST(Paths, JoinWildcardsAndCommandLines) {
  EXPECT_EQ(JoinPath("dir", "a.dat"), "dir" + std::string(1, kNativeSeparator) + "a.dat");
  EXPECT_EQ(JoinPath("dir\\", "a.dat"), "dir\\a.dat");
  EXPECT_EQ(JoinPath("", "a.dat"), "a.dat");
  // As the Windows search: case ignored, "*.*" and ".*" match names without a dot, '?' is exactly one character.
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"*", "A.DAT", true},           {"*", "README", true},           {"*.*", "a.dat", true},
      {"*.*", "README", true},        {"*.*", "..", true},             {"a*.dat", "a.dat", true},
      {"*.DAT", "table.dat", true},   {"TaBlE.dAt", "TABLE.DAT", true}, {"*.DAT", "table.dax", false},
      {"*.DAT", "table.data", false}, {"a?c", "abc", true},            {"a?c", "ac", false},
      {"a?c", "a.c", true},           {"upd???.log", "upd001.log", true}, {"upd???.log", "upd01.log", false},
      {"readme.*", "README", true},   {"readme.*", "readme.txt", true}, {"readme.*", "readmex", false},
      {"*a*b*", "xxaYYbZZ", true},    {"*a*b*", "xxbYYaZZ", false},    {"a.dat", "b.dat", false},
      {"*", ".", true},               {"*.tar.gz", "x.TAR.GZ", true},  {"", "a", false},
  };
  for (const auto& [pattern, name, match] : cases) {
    EXPECT_EQ(WildcardMatch(pattern, name), match) << pattern << " vs " << name;
  }
  // Blanks and tabs separate, quotes group, backslashes escape only before a quote, the program name has none.
  const std::pair<const char*, std::vector<std::string>> lines[] = {
      {"", {}}, {" \t ", {}}, {"prog  a\tb  ", {"prog", "a", "b"}}, {"prog \"a b\" c", {"prog", "a b", "c"}},
      {"prog a\"b c\"d", {"prog", "ab cd"}}, {"prog \"\" x", {"prog", "", "x"}}, {"prog \"a b", {"prog", "a b"}},
      {"prog a\\\\b\\c", {"prog", "a\\\\b\\c"}}, {"prog a\\\"b", {"prog", "a\"b"}},
      {"prog \"a\\\\\" b", {"prog", "a\\", "b"}}, {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},
      {"prog \"c:\\dir\\\\\"", {"prog", "c:\\dir\\"}}, {"prog \"a\"\"b\"", {"prog", "a\"b"}},
      {"\"c:\\my dir\\p.exe\" x", {"c:\\my dir\\p.exe", "x"}}, {"c:\\dir\\\"p x", {"c:\\dir\\\"p", "x"}},
      {"\"a\\\"b c", {"a\\", "b", "c"}}, {"   prog x", {"prog", "x"}},
  };
  for (const auto& [line, args] : lines) EXPECT_EQ(SplitCommandLine(line), args) << line;
}

// Text lines; planned failures arrive at the planned call, as system errors, leaving what a real failure would.
TEST(File, ReadsTextAndFailsAsPlanned) {
  test::TempDir dir;
  constexpr std::size_t kLen = 65535;  // the CR and the LF arrive in different reads
  test::WriteFile(dir / "c.txt", std::string(kLen, 'x') + "\r\ny\r\n");
  TextReader r;
  ASSERT_TRUE(r.Open(dir / "c.txt").ok());
  std::string line;
  ASSERT_TRUE(r.ReadLine(line, 2 * kLen));
  EXPECT_EQ(std::pair(line, r.Position()), std::pair(std::string(kLen, 'x') + "\n", std::uint64_t{kLen + 2}));
  ASSERT_TRUE(r.ReadLine(line, 255));
  EXPECT_EQ(std::pair(line, r.Position()), std::pair(std::string("y\n"), std::uint64_t{kLen + 5}));
  ASSERT_TRUE(r.SeekTo(kLen - 1).ok());
  ASSERT_TRUE(r.ReadLine(line, 255));
  EXPECT_EQ(line, "x\n");
  TextReader missing;
  EXPECT_EQ(missing.Open(dir / "none.txt").kind, OsErr::kNotFound);
  EXPECT_FALSE(missing.ReadLine(line, 255));

  File f;
  f.StartWriteBack(0, 10);  // a hint only: no file open, nothing happens
  test::WriteFile(dir / "a.dat", "x");
  {
    fault::FaultScope faults;
    faults.FailCall(fault::Call::kAny, 3);
    EXPECT_TRUE(SetReadOnly(dir / "a.dat", false).ok());
    EXPECT_TRUE(CopyFileOver(dir / "a.dat", dir / "b.dat", true).ok());
    const OsResult failed = MoveNoReplace(dir / "b.dat", dir / "c.dat");
    EXPECT_TRUE(faults.Fired());
    EXPECT_EQ(failed.kind, OsErr::kOther);  // as the system's own error
    EXPECT_NE(failed.native, 0);
    EXPECT_TRUE(Exists(dir / "b.dat"));
    EXPECT_TRUE(MakeDirectory(dir / "sub").ok());  // a failure happens once
    EXPECT_EQ(faults.Calls(fault::Call::kAny), 4u);
  }
  fault::FaultScope faults;
  faults.DiskFullAfter(5);
  ASSERT_TRUE(f.Open(dir / "d.dat", OpenMode::kCreateTruncate).ok());
  EXPECT_TRUE(f.Write("abc", 3).ok());
  f.StartWriteBack(0, 3);
  f.StartWriteBack(2, 100);  // past the end: the data and the position stay
  EXPECT_FALSE(f.Write("defg", 4).ok());
  EXPECT_TRUE(faults.Fired());
  EXPECT_FALSE(f.Write("h", 1).ok());  // the disk stays full
  EXPECT_TRUE(f.Close().ok());
  EXPECT_EQ(test::ReadFile(dir / "d.dat"), "abcde");
  EXPECT_FALSE(CopyFileOver(dir / "a.dat", dir / "e.dat", true).ok());
  EXPECT_FALSE(Exists(dir / "e.dat"));
}

// A writer that ignores the lock cuts the file short under a view: the lost
// pages read as zeros and the view says so, where the process would end.
TEST(File, ViewOfAFileCutShortReadsZerosAndSaysSo) {
  test::TempDir dir;
  const std::string bytes(3 * 65536, 'v');
  test::WriteFile(dir / "v.dat", bytes);
  File f;
  ASSERT_TRUE(f.Open(dir / "v.dat", OpenMode::kReadDenyWrite).ok());
  MappedView view;
#ifdef _WIN32
  EXPECT_FALSE(view.Map(f, bytes.size()).ok());  // callers read instead
#else
  // The guard comes with the first view and keeps the handler it finds for
  // bus errors outside every view.
  static int others = 0;
  struct sigaction count_others {};
  count_others.sa_sigaction = [](int, siginfo_t*, void*) { ++others; };
  count_others.sa_flags = SA_SIGINFO;
  ASSERT_EQ(sigaction(SIGBUS, &count_others, nullptr), 0);
  ASSERT_TRUE(view.Map(f, bytes.size()).ok());
  raise(SIGBUS);
  EXPECT_EQ(others, 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()), view.Size()), bytes);
  EXPECT_FALSE(view.Damaged());
  std::filesystem::resize_file(dir.path() / "v.dat", 1000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()), view.Size()),
            bytes.substr(0, 1000) + std::string(bytes.size() - 1000, '\0'));
  EXPECT_TRUE(view.Damaged());
  view.Unmap();
  EXPECT_FALSE(view.Damaged());
  ASSERT_TRUE(view.Map(f, 1000).ok());  // what is left maps whole again
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()), view.Size()), bytes.substr(0, 1000));
  EXPECT_FALSE(view.Damaged());
#endif
}

}  // namespace
}  // namespace veupd::os
