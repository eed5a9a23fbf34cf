// Edit ini file (opcode 3): deletes, adds, updates or toggles one key through
// the update thread's own CIniClass, names compared ignoring case. Update
// thread only.
#pragma once

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// PARAM1 file, PARAM2 action (D, A, U, T), PARAM3 section, PARAM4 key,
// PARAM5 value for A and U.
[[nodiscard]] ErrorCode RunEditIniFile(CommandHost& host);

}  // namespace veupd
