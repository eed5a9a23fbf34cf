// The shared command helpers whose rules come straight from the log formats.
#include "commands/command_util.h"

#include <gtest/gtest.h>

#include "commands/fake_host.h"

namespace veupd {
namespace {

TEST(CommandUtilTest, TemporaryNameUsesLastDotOfWholePath) {
  struct Case {
    const char* name;
    std::string target, temp;
  } cases[] = {{"extension", "C:\\data\\parts.dat", "C:\\data\\parts.$U$"},
               {"no dot at all", "C:\\data\\README", "C:\\data\\README.$U$"},
               {"dot only in folder", "C:\\da.ta\\README", "C:\\da.$U$"},
               {"two dots", "/x/a.b.c", "/x/a.b.$U$"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cmd::TemporaryName(c.target, "$U$"), c.temp);
  }
}

TEST(CommandUtilTest, FirstEmptySlotIsReported) {
  test::FakeHost host;
  host.SetParams({"a", "", "c", ""});
  EXPECT_TRUE(cmd::RequireParams(host, {Slot::kParam1, Slot::kParam3}).ok());
  EXPECT_EQ(cmd::RequireParams(host, {Slot::kParam4, Slot::kParam2}), ErrorCode(Err::kParamMissing));
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(test::Params(host.errors[0])[0], "PARAM4");
}

}  // namespace
}  // namespace veupd
