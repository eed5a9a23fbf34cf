// The pointer step shared by create pointer and the table patch commands:
// once the data and index file paths are known, the pointer component builds
// the index of the data file, or a table that is gone loses its index too.
// Update thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

// Replaces the run from the first to the last '@' of name by value; false,
// with name unchanged, when it holds no '@'.
bool FillPlaceholder(std::string& name, std::string_view value);

// The component's result: only its low 16 bits count, 0 for success.
[[nodiscard]] std::uint16_t CallPointerComponent(CommandHost& host, const std::string& structure,
                                                 const std::string& data_path, const std::string& index_path);

// How a step looks for a file: create pointer by a directory search, the
// patch commands by whether the path exists.
using FileFound = bool (*)(const std::string& path);

// With the data file found: calls the component, a non-zero result r being
// reported as error 18 with subcode r, the structure, data and index paths.
// Without it: removes a left-over index file (a failure is of no
// consequence) and sets data_found to false.
[[nodiscard]] ErrorCode RunPointerStep(CommandHost& host, const std::string& structure, const std::string& data_path,
                                       const std::string& index_path, FileFound found, bool& data_found);

}  // namespace veupd
