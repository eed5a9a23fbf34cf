// Conditional (opcode 9): selectors, the nested opcode and what is logged.
#include "commands/conditional.h"

#include <gtest/gtest.h>

#include <string>

#include "commands/fake_host.h"

namespace veupd {
namespace {

using test::FakeHost;

TEST(ConditionalTest, SetDirectoryRunsNestedCommandWithShortenedParam1) {
  struct Case {
    const char* name;
    std::string param1;
    int dir;  // UpdDir set for the case
    std::int32_t opcode;
    std::string nested_param1;
  } cases[] = {{"digit selector", "31C:\\src\\*.*", 3, 1, "C:\\src\\*.*"},
               {"letter selector", "J5prog.exe", 19, 5, "prog.exe"},
               {"A is UpdDir10", "A7dir", 10, 7, "dir"},
               {"non-digit opcode is 0", "0xdata", 0, 0, "data"},
               {"selector and digit only", "28", 2, 8, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost host;
    host.ctx.upd_dir[static_cast<std::size_t>(c.dir)] = "set";
    host.ctx.opcode = 9;
    host.SetParams({c.param1, "P2", "P3", "P4", "P5"});
    host.dispatch_result = ErrorCode(Err::kCannotCopy);
    EXPECT_EQ(RunConditional(host), ErrorCode(Err::kCannotCopy));
    ASSERT_EQ(host.dispatched.size(), 1u);
    EXPECT_EQ(host.dispatched[0].opcode, c.opcode);
    EXPECT_EQ(host.dispatched[0].params[0], c.nested_param1);
    EXPECT_EQ(host.dispatched[0].params[1], "P2");
    EXPECT_EQ(host.dispatched[0].params[4], "P5");
    EXPECT_EQ(host.ctx.opcode, c.opcode);  // kept after the call
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_TRUE(host.steps[0].success);
    EXPECT_EQ(host.steps[0].text, "Conditional executing command " + std::to_string(c.opcode));
    EXPECT_TRUE(host.errors.empty());
  }
}

TEST(ConditionalTest, EmptyOrUnknownSelectorRunsNothing) {
  for (const std::string param1 : {"31x", "a1x", "K1x", "*1x"}) {
    SCOPED_TRACE(param1);
    FakeHost host;
    host.ctx.upd_dir.fill("");
    host.ctx.upd_dir[1] = "other";
    host.ctx.upd_dir[10] = "set";  // 'a' must not reach it
    host.SetParams({param1});
    EXPECT_TRUE(RunConditional(host).ok());
    EXPECT_TRUE(host.dispatched.empty());
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_TRUE(host.steps[0].success);
    EXPECT_EQ(host.steps[0].text,
              "Conditional not executed, " + param1.substr(0, 1) + " was empty");
  }
}

TEST(ConditionalTest, MissingParam1) {
  FakeHost host;
  host.SetParams({});
  EXPECT_EQ(RunConditional(host), ErrorCode(Err::kParamMissing));
  EXPECT_EQ(test::Params(host.errors.at(0))[0], "PARAM1");
  ASSERT_EQ(host.steps.size(), 1u);
  EXPECT_EQ(host.steps[0].text, "Conditional");
  EXPECT_EQ(host.steps[0].code, 4);
}

}  // namespace
}  // namespace veupd
