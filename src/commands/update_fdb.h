// Update FDB (opcode 13): applies one change given on the control line, or a
// whole control list of changes, to file databases through the FDB delta
// driver. Update thread only.
#pragma once

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// PARAM1 the database, PARAM2 the mode, PARAM3 its argument; with PARAM2 or
// PARAM3 empty, PARAM1 is a control list. Code 30 for any driver failure,
// whose messages follow as a second failed step line.
[[nodiscard]] ErrorCode RunUpdateFdb(CommandHost& host);

}  // namespace veupd
