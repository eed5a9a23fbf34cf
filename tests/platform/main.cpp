// Runs the platform tests, or acts as the helper process that the tests
// start: "--hold MODE FILE READY RELEASE" keeps FILE open in MODE until
// RELEASE appears, "--args OUT ..." writes its arguments to OUT one per line,
// "--touch NAME" creates NAME in the working folder, "--exit CODE" ends with CODE.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "helper.h"
#include "platform/platform.h"

namespace {

constexpr unsigned kHoldTimeoutMs = 30000;
constexpr int kHelperFailed = 90;

bool CreateFile(const std::string& path, const std::string& text) {
  veupd::os::File f;
  return f.Open(path, veupd::os::OpenMode::kCreateTruncate).ok() && f.Write(text.data(), text.size()).ok() &&
         f.Close().ok();
}

int RunHelper(int argc, char** argv) {
  const std::string what = argv[1];
  if (what == "--hold" && argc == 6) {
    veupd::os::File held;
    const auto mode = static_cast<veupd::os::OpenMode>(std::atoi(argv[2]));
    if (!held.Open(argv[3], mode).ok()) return kHelperFailed + 1;
    if (!CreateFile(argv[4], "ready")) return kHelperFailed + 2;
    return veupd::test::WaitForFile(argv[5], kHoldTimeoutMs) ? 0 : kHelperFailed + 3;
  }
  if (what == "--args" && argc >= 3) {
    std::string text;
    for (int i = 3; i < argc; ++i) text += std::string(argv[i]) + "\n";
    return CreateFile(argv[2], text) ? 0 : kHelperFailed + 4;
  }
  if (what == "--touch" && argc == 3) return CreateFile(argv[2], "") ? 0 : kHelperFailed + 5;
  if (what == "--exit" && argc == 3) return std::atoi(argv[2]);
  return kHelperFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "--", 2) == 0 && std::strncmp(argv[1], "--gtest", 7) != 0) {
    return RunHelper(argc, argv);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
