// Create pointer (opcode 6): has the pointer component rebuild a table's
// index file from its data file, or removes a left-over index file when the
// data file is gone. Update thread only.
#pragma once

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

[[nodiscard]] ErrorCode RunCreatePointer(CommandHost& host);

}  // namespace veupd
