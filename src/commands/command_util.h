// Pieces the file and system commands share: slot checks, status and step
// texts, splitting a path at its last separator, and the temporary name a
// verified copy uses beside its target. Update thread only.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/command_host.h"
#include "engine/error_code.h"
#include "formats/text_format.h"
#include "platform/platform.h"

namespace veupd::cmd {


// Checks the slots in the order given and reports the first empty one as
// error 4 with the slot's name. Returns 0 when all are set.
[[nodiscard]] ErrorCode RequireParams(CommandHost& host, std::initializer_list<Slot> slots);

// Writes the failed step line and hands the code back, for the early exits.
[[nodiscard]] ErrorCode FailStep(CommandHost& host, std::string_view text, ErrorCode code);
// Logs the step as successful for code 0, as failed otherwise; returns code.
[[nodiscard]] ErrorCode FinishStep(CommandHost& host, std::string_view text, ErrorCode code);

// Position of the last path separator, or npos. The tail from there on
// (separator included) is the name part.
[[nodiscard]] std::size_t LastSeparator(std::string_view path);
// True when the text holds a '*' or '?' wildcard.
[[nodiscard]] bool HasWildcard(std::string_view text);

// Looks a path up with a directory search, so that a path ending in a
// separator counts as absent. Fills entry when found.
[[nodiscard]] bool FindEntry(const std::string& path, os::DirEntry& entry);

// The name a new copy gets beside an existing target: everything up to and
// including the last '.' of the whole path, then the suffix; without any
// '.', the path, a '.' and the suffix.
[[nodiscard]] std::string TemporaryName(std::string_view target, std::string_view suffix);

}  // namespace veupd::cmd
