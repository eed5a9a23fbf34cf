// Program and function call (opcode 5): starts a program, optionally waiting
// for its exit code, or calls an exported function of a DLL. Update thread
// only; a DLL function runs on the update thread.
#pragma once

#include <string>
#include <string_view>

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// PARAM1 program (.exe) or DLL (.dll), PARAM2 argument text, PARAM3 "wait"
// for a program or the export's name for a DLL.
[[nodiscard]] ErrorCode RunProgramCall(CommandHost& host);

// The command line handed to a program: a blank and PARAM2, which is quoted
// as one argument when it holds a blank and does not begin with a quote.
[[nodiscard]] std::string ProgramCommandLine(std::string_view args);

}  // namespace veupd
