// Pieces that both OS implementations of the platform layer share; not part
// of its interface.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace veupd::os {

// Both systems collect a search's entries at Start and hand them out in order.
struct DirSearch::Impl {
  std::vector<DirEntry> entries;
  std::size_t next = 0;
};

}  // namespace veupd::os

namespace veupd::os::internal {

// The order a directory search delivers on every system: by name ignoring
// ASCII case, names equal but for case by their bytes.
void SortByName(std::vector<DirEntry>& entries);

}  // namespace veupd::os::internal

namespace veupd::os::fault::internal {

// Set only while a FaultScope lives; the primitives look at nothing else
// when it is clear.
inline std::atomic<bool> armed{false};

// Counts the call against the armed plan. True when the call is to fail with
// `failure`; for a write, *size is cut to the bytes that still go through.
[[nodiscard]] bool Take(Call call, Failure& failure, std::size_t* size);

}  // namespace veupd::os::fault::internal
