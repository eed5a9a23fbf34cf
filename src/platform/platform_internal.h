// Pieces that both OS implementations of the platform layer share; not part
// of its interface.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace veupd::os {

// Both systems collect a search's entries at Start and hand them out in order.
struct DirSearch::Impl {
  std::vector<DirEntry> entries;
  std::size_t next = 0;
};

}  // namespace veupd::os

namespace veupd::os::internal {

[[nodiscard]] std::string LowerAscii(std::string_view text);
// The order a directory search delivers on every system: by name ignoring
// ASCII case, names equal but for case by their bytes.
void SortByName(std::vector<DirEntry>& entries);

}  // namespace veupd::os::internal
