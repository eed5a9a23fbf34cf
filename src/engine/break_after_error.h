// Break after error (opcode 8): ends the level once an error was reported,
// asking first when PARAM1 is "1" and no server automation is on.
#pragma once

#include "engine/command_host.h"

namespace veupd {

// Dictionary text of the question.
constexpr std::uint32_t kBreakQuestionText = 3671;

[[nodiscard]] ErrorCode RunBreakAfterError(CommandHost& host);

}  // namespace veupd
