// The fault plan behind FaultScope: counts the platform primitives' calls
// and tells them when to fail. Costs nothing unless a test arms it.
#include "platform/fault_injection.h"

#include <array>
#include <cassert>
#include <limits>
#include <mutex>

#include "platform/platform_internal.h"

namespace veupd::os::fault {

namespace {

struct Rule {
  Call call;
  std::uint32_t nth;
  Failure failure;
};

struct Plan {
  std::mutex mutex;
  std::array<std::uint32_t, kCallKinds + 1> calls{};
  std::vector<Rule> rules;
  std::uint64_t write_limit = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t written = 0;
  bool fired = false;
};

Plan& ThePlan() {
  static Plan plan;
  return plan;
}

std::size_t Index(Call call) { return static_cast<std::size_t>(call); }

}  // namespace

FaultScope::FaultScope() {
  assert(!internal::armed.load() && "fault scopes do not nest");
  Plan& plan = ThePlan();
  {
    const std::lock_guard<std::mutex> lock(plan.mutex);
    plan.calls.fill(0);
    plan.rules.clear();
    plan.write_limit = std::numeric_limits<std::uint64_t>::max();
    plan.written = 0;
    plan.fired = false;
  }
  internal::armed.store(true);
}

FaultScope::~FaultScope() { internal::armed.store(false); }

FaultScope& FaultScope::FailCall(Call call, std::uint32_t nth, Failure failure) {
  Plan& plan = ThePlan();
  const std::lock_guard<std::mutex> lock(plan.mutex);
  plan.rules.push_back({call, nth, failure});
  return *this;
}

FaultScope& FaultScope::DiskFullAfter(std::uint64_t bytes) {
  Plan& plan = ThePlan();
  const std::lock_guard<std::mutex> lock(plan.mutex);
  plan.write_limit = bytes;
  return *this;
}

std::uint32_t FaultScope::Calls(Call call) const {
  Plan& plan = ThePlan();
  const std::lock_guard<std::mutex> lock(plan.mutex);
  return plan.calls[Index(call)];
}

bool FaultScope::Fired() const {
  Plan& plan = ThePlan();
  const std::lock_guard<std::mutex> lock(plan.mutex);
  return plan.fired;
}

bool internal::Take(Call call, Failure& failure, std::size_t* size) {
  Plan& plan = ThePlan();
  const std::lock_guard<std::mutex> lock(plan.mutex);
  ++plan.calls[Index(call)];
  ++plan.calls[Index(Call::kAny)];
  for (auto it = plan.rules.begin(); it != plan.rules.end(); ++it) {
    if ((it->call == call || it->call == Call::kAny) && plan.calls[Index(it->call)] == it->nth) {
      failure = it->failure;
      plan.rules.erase(it);
      plan.fired = true;
      if (size != nullptr) *size = 0;
      return true;
    }
  }
  const std::uint64_t room = plan.write_limit - plan.written;
  if (call == Call::kWrite && size != nullptr) {
    if (*size <= room) {
      plan.written += *size;
      return false;
    }
    *size = static_cast<std::size_t>(room);
    plan.written = plan.write_limit;
  } else if (call != Call::kCopy || room > 0) {
    return false;
  }
  failure = Failure::kDiskFull;
  plan.fired = true;
  return true;
}

}  // namespace veupd::os::fault
