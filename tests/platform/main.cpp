// Runs the platform tests, or acts as the helper process they start to hold
// a file from another process: "--hold MODE FILE READY RELEASE" keeps FILE
// open in MODE, creates READY and waits until RELEASE appears.
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
    for (unsigned waited = 0; !os::Exists(argv[5]); waited += 20) {
      if (waited >= kHoldLimitMs) return 93;
      os::SleepMs(20);
    }
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
