// The platform tests start their own program again as a helper process (see
// main.cpp): to hold a file open from another process, to report the
// arguments it received, or to end with a given exit code.
#pragma once

#include <string>

#include "platform/platform.h"

namespace veupd::test {

// The command line text that starts this test program, quoted.
inline std::string HelperCommand() {
  return "\"" + os::JoinPath(os::ProgramDirectory(), std::string("tests_platform") + VEUPD_EXE_SUFFIX) + "\"";
}

// Polls for a file that another process creates; false after timeout_ms.
inline bool WaitForFile(const std::string& path, unsigned timeout_ms) {
  constexpr unsigned kStepMs = 20;
  for (unsigned waited = 0; waited < timeout_ms; waited += kStepMs) {
    if (os::Exists(path)) return true;
    os::SleepMs(kStepMs);
  }
  return os::Exists(path);
}

}  // namespace veupd::test
