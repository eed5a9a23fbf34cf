// Rename (opcode 12): gives a file a new name within its own directory.
// Update thread only.
#pragma once

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// PARAM1 the existing file, PARAM2 the new name without any directory part.
// Writes a step line only for a missing parameter.
[[nodiscard]] ErrorCode RunRename(CommandHost& host);

}  // namespace veupd
