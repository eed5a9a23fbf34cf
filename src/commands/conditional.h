// Conditional (opcode 9): runs one nested command, chosen by a digit, only
// when a given update directory is set. Update thread only.
#pragma once

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// PARAM1: selector ('0'-'9', 'A'-'J'), opcode digit ('0'-'8'), then the
// nested command's own PARAM1. Returns the nested command's result; the
// thread's opcode keeps the nested one afterwards.
[[nodiscard]] ErrorCode RunConditional(CommandHost& host);

}  // namespace veupd
