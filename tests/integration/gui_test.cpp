// The real Windows GUI build, run once (under Wine and Xvfb in CI): the
// dialog's modal loop starts the level, so a level that ran shows that the
// dialog opened; the program must then end by itself with the result written.
#include <gtest/gtest.h>

#include "integration/level_runner.h"

namespace veupd::test {
namespace {

constexpr std::size_t kPeOffsetField = 0x3C;
constexpr std::size_t kSubsystemInOptionalHeader = 68;
constexpr std::size_t kOptionalHeaderOffset = 24;  // "PE\0\0" and the file header
constexpr std::uint16_t kSubsystemWindowsGui = 2;

std::uint32_t ReadLe(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes.at(at + static_cast<std::size_t>(i)));
  return v;
}

TEST(WindowsGui, DialogRunsTheLevelAndTheProgramEndsByItself) {
  if (!IsWindowsBuild()) GTEST_SKIP() << "not a Windows build: no VeUpd.exe in the output folder";
  const std::string exe = ReadFile(VeupdProgram());
  ASSERT_GT(exe.size(), kPeOffsetField + 4);
  const std::size_t pe = ReadLe(exe, kPeOffsetField, 4);
  ASSERT_EQ(exe.substr(pe, 4), std::string("PE\0\0", 4));
  EXPECT_EQ(ReadLe(exe, pe + kOptionalHeaderOffset + kSubsystemInOptionalHeader, 2), kSubsystemWindowsGui);

  LevelRunner runner;
  runner.Set("Marke", "nr");
  WriteFile(runner.Path("a.dat"), "a");
  const LevelResult r = runner.RunLevel("#C" + runner.Path("a.dat") + "\tb.dat\r\n#C\t\r\n");
  EXPECT_EQ(LevelBody(r.log, 1),
            ErrorEntry("Needed parameter is missing", 1, 4, 0, {{1, "PARAM1"}}) + "Failed - Rename\r\n")
      << r.log;
  EXPECT_TRUE(std::filesystem::exists(runner.Path("b.dat")));
  EXPECT_EQ(r.result, "0");
  EXPECT_EQ(r.exit_status, 1);
}

}  // namespace
}  // namespace veupd::test
