// Runs the platform tests, or as their helper process ("--hold MODE FILE READY RELEASE") keeps FILE open in
// MODE, creates READY and waits until RELEASE appears.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--hold") == 0) {
    namespace os = veupd::os;
    constexpr unsigned kHoldLimitMs = 30000;
    os::File held, ready;
    if (!held.Open(argv[3], static_cast<os::OpenMode>(std::atoi(argv[2]))).ok()) return 91;
    if (!ready.Open(argv[4], os::OpenMode::kCreateTruncate).ok() || !ready.Close().ok()) return 92;
    for (unsigned waited = 0; waited < kHoldLimitMs && !os::Exists(argv[5]); waited += 20) os::SleepMs(20);
    return os::Exists(argv[5]) ? 0 : 93;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
