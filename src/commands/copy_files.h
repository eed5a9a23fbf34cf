// Copy files (opcode 1): one file or every match of a wildcard pattern, with
// matching subdirectories, each copy verified by CRC-32 before it replaces
// an existing target. Update thread only.
#pragma once

#include <string>

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// The command: PARAM1 source file or pattern, PARAM2 target directory.
[[nodiscard]] ErrorCode RunCopyFiles(CommandHost& host);

// Creates a directory and its missing parents; true when it exists afterwards
// as found by a directory search.
[[nodiscard]] bool MakeDirectoryPath(const std::string& path);
// Copies and verifies one file; reports its own failure.
[[nodiscard]] ErrorCode CopyOneFile(CommandHost& host, const std::string& source,
                                    const std::string& target);
// Copies every match of the pattern into the target directory, descending into
// matching subdirectories except those whose names begin with '.'.
[[nodiscard]] ErrorCode CopyMatchingFiles(CommandHost& host, const std::string& pattern,
                                          const std::string& target_dir);

}  // namespace veupd
