// The dispatch table: the one place that maps opcodes to commands.
#pragma once

#include "engine/level_state.h"

namespace veupd {

[[nodiscard]] const CommandTable& Commands();

}  // namespace veupd
