// Lines for whoever started the updater from a shell or a job: the level's
// outcome, why a parameter file could not be read, usage and version. They
// stand beside the designed message boxes, log and result key, never in
// their place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veupd {

// "level N finished with E errors; log: PATH" (or "...; no log written
// (PATH)" when the file is not there).
[[nodiscard]] std::string LevelSummary(std::int32_t level, std::uint32_t errors, const std::string& log_path,
                                       bool log_exists);

// Text on standard error. Nothing on Windows, where the program has no
// console.
void ConsoleWrite(std::string_view text);
// One line "veupd: TEXT" through ConsoleWrite.
void ConsoleNote(std::string_view text);

// The usage text and the version line.
[[nodiscard]] std::string UsageText();
[[nodiscard]] std::string VersionText();
// Usage or version for the user: standard output on POSIX, a message box on
// Windows.
void ShowInfo(std::string_view text);

}  // namespace veupd
