// The one signal that stops a level before its control lines run out.
#pragma once

#include <atomic>
#include <cstdint>

namespace veupd {

enum class StopCause : std::uint8_t {
  kNone,
  kBreakAfterError,  // the level ends in order after the break line
  kFromOutside,      // the program or session is being ended: the level is cut short
  kLevelEnded,       // the level is over, whatever ended it
};

// Set from any thread; the first cause given stays.
class StopSignal {
 public:
  void Request(StopCause cause) {
    StopCause none = StopCause::kNone;
    (void)cause_.compare_exchange_strong(none, cause);
  }
  [[nodiscard]] bool Requested() const { return cause_.load() != StopCause::kNone; }
  [[nodiscard]] StopCause Cause() const { return cause_.load(); }

 private:
  std::atomic<StopCause> cause_{StopCause::kNone};
};

}  // namespace veupd
