// Drives an operation through every failure a fault plan can give it, each
// run from fresh files, to compare what is left with the states before and after.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "engine/error_code.h"
#include "platform/fault_injection.h"
#include "test_support.h"

namespace veupd::test {

struct FaultCase {
  os::fault::Call call;
  os::fault::Failure failure;
  const char* name;
};

// Runs attempt(faults) with plan(faults, n) for n = first, first + 1, ... until a run in which the plan fired
// nothing (that run must succeed; attempt checks it). Returns the number of runs that met a failure.
template <class Plan, class Attempt>
std::uint32_t RunFaultPlans(std::uint32_t first, const std::string& what, Plan plan, Attempt attempt) {
  constexpr std::uint32_t kMaxRuns = 200;  // so that a runaway loop fails the test
  for (std::uint32_t n = first; n <= kMaxRuns; ++n) {
    SCOPED_TRACE(what + " " + std::to_string(n));
    os::fault::FaultScope faults;
    plan(faults, n);
    attempt(faults);
    if (!faults.Fired()) return n - first;
  }
  ADD_FAILURE() << what << ": more than " << kMaxRuns << " runs";
  return kMaxRuns;
}

// The nth call of c.call fails, n = 1, 2, ...
template <class Attempt>
std::uint32_t ForEachFailingCall(const FaultCase& c, Attempt attempt) {
  return RunFaultPlans(
      1, std::string(c.name) + ": failing call",
      [&](os::fault::FaultScope& faults, std::uint32_t n) { faults.FailCall(c.call, n, c.failure); }, attempt);
}

// The disk is full after 0, step, 2 step, ... bytes.
template <class Attempt>
std::uint32_t ForEachDiskFullPoint(std::uint64_t step, Attempt attempt) {
  return RunFaultPlans(
      0, "disk full after steps of " + std::to_string(step) + " bytes:",
      [&](os::fault::FaultScope& faults, std::uint32_t n) { faults.DiskFullAfter(n * step); }, attempt);
}

// ForEachFailingCall, attempt(c, faults), for every primitive a file-changing operation uses, and a full disk.
template <class Attempt>
void ForEveryFileFault(Attempt attempt) {
  using enum os::fault::Call;
  using enum os::fault::Failure;
  static constexpr FaultCase kFileFaults[] = {
      {kOpen, kSharing, "open"}, {kRead, kIo, "read"}, {kWrite, kIo, "write"},
      {kWrite, kDiskFull, "write (disk full)"}, {kSetLength, kDiskFull, "set length"}, {kFlush, kIo, "flush"},
      {kClose, kIo, "close"}, {kCopy, kDiskFull, "copy"}, {kMove, kAccessDenied, "move"},
      {kRemove, kSharing, "delete"}, {kMakeDirectory, kAccessDenied, "make directory"},
      {kSetAttributes, kAccessDenied, "set attributes"},
  };
  for (const FaultCase& c : kFileFaults) {
    ForEachFailingCall(c, [&](os::fault::FaultScope& faults) { attempt(c, faults); });
  }
}

// The errors an operation may report when a call of a kind fails.
using DesignedErrors = std::map<os::fault::Call, std::set<Err>>;

inline void ExpectDesignedError(const DesignedErrors& designed, os::fault::Call call, std::uint16_t code) {
  const auto errors = designed.find(call);
  ASSERT_NE(errors, designed.end()) << "this call should not fail the operation";
  EXPECT_TRUE(errors->second.count(static_cast<Err>(code))) << "error " << code;
}

// Compares contents without printing large files on a mismatch.
inline ::testing::AssertionResult Holds(const std::string& actual, const std::string& expected, const char* what) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << what << ": " << actual.size() << " bytes, not the expected "
                                       << expected.size();
}

// Every file below root: relative path (with '/') -> content.
inline std::map<std::string, std::string> Snapshot(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files[e.path().lexically_relative(root).generic_string()] = ReadFile(e.path());
  }
  return files;
}

// Fails for each file still in a snapshot once the expected ones are taken out.
inline void ExpectNothingLeft(const std::map<std::string, std::string>& left) {
  for (const auto& entry : left) ADD_FAILURE() << "left behind: " << entry.first;
}

}  // namespace veupd::test
