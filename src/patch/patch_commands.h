// The four patch commands of the control file: Fix-Update (opcode 4),
// FDT-Update (opcode 0 and every opcode outside 1..13), FDT-Update-InPlace
// (10) and Fix-Update in place (11). Each reports its own failures once,
// writes one step line and returns its code. Update thread only.
#pragma once

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

[[nodiscard]] ErrorCode RunFixUpdate(CommandHost& host);
[[nodiscard]] ErrorCode RunFdtUpdate(CommandHost& host);
[[nodiscard]] ErrorCode RunFdtUpdateInPlace(CommandHost& host);
[[nodiscard]] ErrorCode RunFixUpdateInPlace(CommandHost& host);

}  // namespace veupd
