// The small rules of the patch commands, one table each.
#include "patch/patch_steps.h"

#include <gtest/gtest.h>

#include <string>

namespace veupd {
namespace {

TEST(InPlaceTemporaryPathTest, ReplacesTheTextAfterTheLastDot) {
  struct Case {
    const char* name;
    const char* path;
    const char* temp;
  };
  const Case cases[] = {
      {"extension", "C:\\DATA\\TABLE.DAT", "C:\\DATA\\TABLE.DU$"},
      {"no dot anywhere", "C:\\DATA\\TABLE", "C:\\DATA\\TABLE.DU$"},
      {"dot in the directory only", "D:\\V1.5\\TABLE", "D:\\V1.DU$"},
      {"two extensions", "/srv/a.tar.gz", "/srv/a.tar.DU$"},
      {"trailing dot", "x.", "x.DU$"},
  };
  for (const Case& c : cases) EXPECT_EQ(InPlaceTemporaryPath(c.path), c.temp) << c.name;
}

TEST(SubstitutePlaceholderTest, CarriesTheVariablePartIntoTheIndexPath) {
  struct Case {
    const char* name;
    const char* pattern;
    const char* actual;
    const char* index_in;
    const char* index_out;
  };
  const Case cases[] = {
      {"four digits", "TAB@.DAT", "TAB0042.DAT", "D:\\DATA\\PTR@.IDX", "D:\\DATA\\PTR0042.IDX"},
      // a = 1, k = 5: "12X.DAT" loses its last five characters.
      {"two placeholders", "T@@X.DAT", "T12X.DAT", "I@@.IDX", "I12.IDX"},
      {"run in the index replaced whole", "TAB@.DAT", "TAB7.DAT", "P@@@@.IDX", "P7.IDX"},
      {"fixed parts not compared", "TAB@.DAT", "XYZ99.BIN", "P@.IDX", "P99.IDX"},
      {"actual name shorter than the prefix", "TABLE@.DAT", "AB", "P@.IDX", "P.IDX"},
      {"short tail kept whole", "TAB@.DAT", "TAB12", "P@.IDX", "P12.IDX"},
  };
  for (const Case& c : cases) {
    std::string index = c.index_in;
    EXPECT_TRUE(SubstitutePlaceholder(c.pattern, c.actual, index)) << c.name;
    EXPECT_EQ(index, c.index_out) << c.name;
  }
}

}  // namespace
}  // namespace veupd
