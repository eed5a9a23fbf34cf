// Files held open by another process: the INI class, the CRC calculator and
// the delimited reader must fail cleanly (or wait through their retries).
// The other process is this test program again, running LockHolder only.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "formats/crc32.h"
#include "formats/delimited_file.h"
#include "formats/ini_file.h"
#include "platform/platform.h"
#include "test_support.h"

namespace veupd {
namespace {

constexpr const char* kHeldName = "held.ini";
constexpr const char* kModeName = "hold_mode";  // "write <ms>" or "read <ms>"
constexpr const char* kReadyName = "ready";
constexpr const char* kReleaseName = "release";
constexpr std::uint32_t kPollMs = 10;
constexpr int kMaxPolls = 2000;  // 20 s: a stuck helper fails the test, never hangs it

// Runs only in the helper process (disabled in a normal run). It works in its
// working folder: opens kHeldName as kModeName says, reports ready, and holds
// the file for the given milliseconds, or with 0 until kReleaseName appears.
TEST(LockHolder, DISABLED_Hold) {
  std::ifstream mode_file(kModeName);
  std::string mode;
  std::uint32_t hold_ms = 0;
  mode_file >> mode >> hold_ms;
  os::File file;
  ASSERT_TRUE(file.Open(kHeldName, mode == "write" ? os::OpenMode::kReadWriteCreate
                                                   : os::OpenMode::kReadDenyWrite)
                  .ok());
  std::ofstream(kReadyName).put('1');
  if (hold_ms != 0) {
    os::SleepMs(hold_ms);
    return;
  }
  for (int i = 0; i < kMaxPolls && !os::Exists(kReleaseName); ++i) os::SleepMs(kPollMs);
}

std::string TestProgram() {
  for (const char* name : {"tests_formats", "tests_formats.exe"}) {
    const std::string path = os::JoinPath(os::ProgramDirectory(), name);
    if (os::Exists(path)) return path;
  }
  return {};
}

// Starts the helper on dir/kHeldName and waits until it holds the file.
class HeldFile {
 public:
  HeldFile(const test::TempDir& dir, const char* mode, std::uint32_t hold_ms) : dir_(dir) {
    test::WriteFile(dir / kModeName, std::string(mode) + " " + std::to_string(hold_ms));
    const std::string program = TestProgram();
    if (program.empty()) return;
    const std::string command = "\"" + program +
                                "\" --gtest_also_run_disabled_tests"
                                " --gtest_filter=LockHolder.DISABLED_Hold";
    if (!helper_.Start(command, dir.str()).ok()) return;
    for (int i = 0; i < kMaxPolls && !helper_.Wait(0); ++i) {
      if (os::Exists(dir / kReadyName)) {
        ready_ = true;
        return;
      }
      os::SleepMs(kPollMs);
    }
  }
  ~HeldFile() {
    test::WriteFile(dir_ / kReleaseName, "");
    (void)helper_.Wait(kPollMs * kMaxPolls);  // the helper ends by itself at the latest then
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  [[nodiscard]] bool ready() const { return ready_; }
  // Waits for the helper to end; true when it ended with exit code 0.
  bool Finish() { return helper_.Wait(kPollMs * kMaxPolls) && helper_.ExitCode() == 0; }

 private:
  const test::TempDir& dir_;
  os::Process helper_;
  bool ready_ = false;
};

constexpr const char* kContent = "[S]\r\na=1\r\n";

TEST(LockedFileTest, IniReadFailsWhileAnotherProcessWrites) {
  test::TempDir dir;
  const std::string path = dir / kHeldName;
  test::WriteFile(path, kContent);
  HeldFile held(dir, "write", 0);
  ASSERT_TRUE(held.ready());
  CIniClass ini;
  std::string value;
  EXPECT_FALSE(ini.ReadValue("S", "a", "DEF", value, path, /*no_case=*/true));
  EXPECT_EQ(value, "DEF");
  EXPECT_FALSE(ini.ReadValueCached("S", "a", "DEF", value, path, /*no_case=*/true));
  EXPECT_EQ(value, "DEF");
}

TEST(LockedFileTest, IniWriteFailsWhileAnotherProcessReads) {
  test::TempDir dir;
  const std::string path = dir / kHeldName;
  test::WriteFile(path, kContent);
  HeldFile held(dir, "read", 0);
  ASSERT_TRUE(held.ready());
  CIniClass ini;
  EXPECT_FALSE(ini.WriteValue("S", "a", "2", path, /*no_case=*/true));
  EXPECT_FALSE(ini.DeleteKey("S", "a", path, /*no_case=*/true));
  EXPECT_EQ(test::ReadFile(path), kContent);
  // Readers only keep writers out.
  std::string value;
  EXPECT_TRUE(ini.ReadValue("S", "a", "DEF", value, path, /*no_case=*/true));
  EXPECT_EQ(value, "1");
}

TEST(LockedFileTest, IniReadSucceedsOnARetry) {
  test::TempDir dir;
  const std::string path = dir / kHeldName;
  test::WriteFile(path, kContent);
  HeldFile held(dir, "write", 30);  // released well before the third try
  ASSERT_TRUE(held.ready());
  CIniClass ini;
  std::string value;
  EXPECT_TRUE(ini.ReadValue("S", "a", "DEF", value, path, /*no_case=*/true));
  EXPECT_EQ(value, "1");
  EXPECT_TRUE(held.Finish());
}

TEST(LockedFileTest, CrcAndListCannotOpenAFileBeingWritten) {
  test::TempDir dir;
  const std::string path = dir / kHeldName;
  test::WriteFile(path, "123456789");
  HeldFile held(dir, "write", 0);
  ASSERT_TRUE(held.ready());
  CCrc32 crc;
  std::uint32_t value = 7;
  EXPECT_FALSE(crc.FileCrc(value, path));
  EXPECT_EQ(crc.m_nError, CCrc32::kCannotOpen);
  CDelimitedFile list;
  EXPECT_FALSE(list.Open(path.c_str()));
}

}  // namespace
}  // namespace veupd
