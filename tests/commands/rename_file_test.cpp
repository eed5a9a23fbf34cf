// Rename (opcode 12) on real folders.
#include "commands/rename_file.h"

#include <gtest/gtest.h>

#include <filesystem>
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

std::string N(const fs::path& p) { return p.string(); }

// ---- failures

TEST(RenameTest, RefusalsAndTheirLogLines) {
  TempDir dir;
  WriteFile(dir.path() / "a.dat", "A");
  WriteFile(dir.path() / "taken.dat", "T");
  const std::string a = N(dir.path() / "a.dat");
  const std::string sub = std::string("sub") + os::kNativeSeparator + "b.dat";
  struct Case {
    const char* name;
    std::string p1, p2;
    std::uint16_t code;
    std::vector<std::string> params;  // of the error entry, first two
    std::string step;                 // "" = no step line
  } cases[] = {
      {"no old path", "", "b.dat", 4, {"PARAM1", ""}, "Rename"},
      {"no new name", a, "", 4, {"PARAM2", ""}, "Rename (" + a + ")"},
      {"directory in new name", a, sub, 8, {sub, ""}, ""},
      {"old path without folder", "a.dat", "b.dat", 8, {"a.dat", ""}, ""},
      {"new name taken", a, "taken.dat", 29, {a, N(dir.path() / "taken.dat")}, ""},
      {"old file missing", N(dir.path() / "none.dat"), "n.dat", 29,
       {N(dir.path() / "none.dat"), N(dir.path() / "n.dat")}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost host;
    host.SetParams({c.p1, c.p2});
    EXPECT_EQ(RunRename(host).code(), c.code);
    ASSERT_EQ(host.errors.size(), 1u);
    const auto params = test::Params(host.errors[0]);
    EXPECT_EQ(params[0], c.params[0]);
    EXPECT_EQ(params[1], c.params[1]);
    if (c.step.empty()) {
      EXPECT_TRUE(host.steps.empty());
    } else {
      ASSERT_EQ(host.steps.size(), 1u);
      EXPECT_EQ(host.steps[0].text, c.step);
      EXPECT_EQ(host.steps[0].code, c.code);
    }
  }
  EXPECT_EQ(ReadFile(dir.path() / "a.dat"), "A");
  EXPECT_EQ(ReadFile(dir.path() / "taken.dat"), "T");
}

}  // namespace
}  // namespace veupd
