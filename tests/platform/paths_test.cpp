// Path rules: joining and wildcard matching.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace veupd::os {
namespace {

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
