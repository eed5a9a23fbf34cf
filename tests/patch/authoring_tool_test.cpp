// veupd-tool as a level's author meets it: help, trying a patch without a
// level, control lines to paste, and the dry run of a whole level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration/level_runner.h"
#include "patch/tool_runner.h"
#include "test_support.h"

namespace veupd::test {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(ToolHelp, EveryFormAnswersWithItsStatus) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out_prefix;  // "" when nothing goes to standard output
    const char* err_prefix;
  };
  const std::vector<Case> cases = {
      {{}, 2, "", "usage: veupd-tool COMMAND"},
      {{"--help"}, 0, "usage: veupd-tool COMMAND", ""},
      {{"help"}, 0, "usage: veupd-tool COMMAND", ""},
      {{"--version"}, 0, "veupd-tool ", ""},
      {{"help", "crc"}, 0, "  crc FILE...", ""},
      {{"crc", "--help"}, 0, "  crc FILE...", ""},
      {{"help", "nope"}, 2, "", "veupd-tool: unknown command 'nope'"},
      {{"nope"}, 2, "", "veupd-tool: unknown command 'nope'"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool(dir, c.args);
    const std::string name = c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(run.status, c.status) << name;
    EXPECT_TRUE(StartsWith(run.out, c.out_prefix)) << name << ": " << run.out;
    EXPECT_TRUE(StartsWith(run.err, c.err_prefix)) << name << ": " << run.err;
    if (*c.out_prefix == '\0') {
      EXPECT_EQ(run.out, "") << name;
    }
  }
}

}  // namespace
}  // namespace veupd::test
