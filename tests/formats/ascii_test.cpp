// Case folding touches A-Z and a-z only: bytes that differ from a letter by
// the case bit alone, and bytes above 127, keep their identity.
#include "formats/ascii.h"

#include <gtest/gtest.h>

namespace veupd {
namespace {

TEST(AsciiTest, FoldsLettersOnly) {
  struct Case {
    const char* name;
    std::string_view a, b;
    bool equal;
  } cases[] = {{"mixed case", "PTR0042.Idx", "ptr0042.IDX", true},
               {"at sign and backquote", "@", "`", false},
               {"brackets and braces", "[]\\^", "{}|~", false},
               {"bytes above 127", "\xC4", "\xE4", false},
               {"length differs", "abc", "ab", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal);
  }
  EXPECT_EQ(UpperAscii("a@z[`{\xE4"), "A@Z[`{\xE4");
  EXPECT_EQ(LowerAscii("A@Z[`{\xC4"), "a@z[`{\xC4");
}

}  // namespace
}  // namespace veupd
