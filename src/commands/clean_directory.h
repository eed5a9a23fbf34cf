// Clean directory (opcode 2) and empty directory (opcode 7): delete the files
// matching a mask, recursively in matching subdirectories; opcode 7 also
// removes those subdirectories. Update thread only.
#pragma once

#include <string>

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// PARAM1 directory, PARAM2 mask; subdirectories are kept.
[[nodiscard]] ErrorCode RunCleanDirectory(CommandHost& host);
// As RunCleanDirectory, but each matching subdirectory is removed once cleaned.
[[nodiscard]] ErrorCode RunEmptyDirectory(CommandHost& host);

// Deletes the matches of mask in directory and its matching subdirectories.
// False after a file that could not be deleted (already reported as error 21).
[[nodiscard]] bool CleanDirectory(CommandHost& host, const std::string& directory,
                                  const std::string& mask, bool remove_subdirs);

}  // namespace veupd
