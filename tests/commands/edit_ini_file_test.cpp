// Edit ini file (opcode 3): the exact bytes each action leaves in the file.
#include "commands/edit_ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "commands/fake_host.h"
#include "test_support.h"

namespace veupd {
namespace {

namespace fs = std::filesystem;
using test::FakeHost;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(EditIniFileTest, ActionsLeaveTheseBytes) {
  struct Case {
    const char* name;
    std::optional<std::string> before;  // nullopt: no file
    std::string action, key, value;
    std::optional<std::string> after;
  } cases[] = {
      {"add creates a missing file", std::nullopt, "A", "k", "v", "\r\n[S]\r\nk=v\r\n"},
      {"update adds a missing key", "[S]\r\na=1\r\n", "U", "k", "v", "[S]\r\na=1\r\nk=v\r\n\r\n"},
      {"update sets an existing key", "[S]\r\nk=1\r\n", "U", "k", "9", "[S]\r\nk=9\r\n"},
      {"update on missing file writes nothing", std::nullopt, "U", "k", "v", std::nullopt},
      {"delete on missing file leaves it empty", std::nullopt, "D", "a", "", ""},
      {"toggle 2 gives 1", "[S]\r\nk= 2 \r\n", "T", "k", "", "[S]\r\nk=1\r\n"},
      {"toggle 0 gives 1", "[S]\r\nk=0\r\n", "T", "k", "", "[S]\r\nk=1\r\n"},
      {"toggle text gives 1", "[S]\r\nk=on\r\n", "T", "k", "", "[S]\r\nk=1\r\n"},
      {"toggle absent key gives 1", "[S]\r\na=x\r\n", "T", "k", "", "[S]\r\na=x\r\nk=1\r\n\r\n"},
      {"toggle ignores the value slot", "[S]\r\nk=1\r\n", "T", "k", "7", "[S]\r\nk=2\r\n"},
      {"toggle on missing file writes nothing", std::nullopt, "T", "k", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path ini = dir.path() / "app.ini";
    if (c.before) WriteFile(ini, *c.before);
    FakeHost host;
    host.SetParams({ini.string(), c.action, "S", c.key, c.value});
    EXPECT_TRUE(RunEditIniFile(host).ok());
    EXPECT_TRUE(host.errors.empty());
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_TRUE(host.steps[0].success);
    EXPECT_EQ(host.steps[0].text, "Editing ini file (" + ini.string() + " -> " + c.action + ")");
    if (c.after) {
      EXPECT_EQ(ReadFile(ini), *c.after);
    } else {
      EXPECT_FALSE(fs::exists(ini));
    }
  }
}

// ---- failures: nothing is touched

TEST(EditIniFileTest, RefusedLines) {
  struct Case {
    const char* name;
    std::string file, action, section, key, value;
    std::uint16_t code;
    std::string param1, param2, step;
  } cases[] = {
      {"no file", "", "A", "S", "k", "v", 4, "PARAM1", "", "Edit inifile"},
      {"no action", "f.ini", "", "S", "k", "v", 4, "PARAM2", "", "Edit inifile (f.ini)"},
      {"no section", "f.ini", "A", "", "k", "v", 4, "PARAM3", "", "Edit inifile (f.ini)"},
      {"no key", "f.ini", "A", "S", "", "v", 4, "PARAM4", "", "Edit inifile (f.ini)"},
      {"add without value", "f.ini", "A", "S", "k", "", 4, "PARAM5", "A", "Edit inifile (f.ini)"},
      {"update without value", "f.ini", "U", "S", "k", "", 4, "PARAM5", "U", "Edit inifile (f.ini)"},
      {"unknown without value", "f.ini", "X", "S", "k", "", 4, "PARAM5", "X", "Edit inifile (f.ini)"},
      {"lower case action", "f.ini", "a", "S", "k", "v", 6, "a", "", "Edit inifile (f.ini)"},
      {"longer action", "f.ini", "AA", "S", "k", "v", 6, "AA", "", "Edit inifile (f.ini)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FakeHost host;
    const std::string file = c.file.empty() ? "" : (dir.path() / c.file).string();
    host.SetParams({file, c.action, c.section, c.key, c.value});
    EXPECT_EQ(RunEditIniFile(host).code(), c.code);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(test::Params(host.errors[0])[0], c.param1);
    EXPECT_EQ(test::Params(host.errors[0])[1], c.param2);
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_FALSE(host.steps[0].success);
    EXPECT_EQ(host.steps[0].code, c.code);
    std::string step = c.step;
    if (const auto at = step.find("f.ini"); at != std::string::npos) step.replace(at, 5, file);
    EXPECT_EQ(host.steps[0].text, step);
    EXPECT_FALSE(fs::exists(dir.path() / "f.ini"));
  }
}

}  // namespace
}  // namespace veupd
