// Tries an update data file on an old file without touching either: tells a
// wrong old version from damaged update data and from a wrong expected CRC.
// Shared by veupd-tool verify, apply and check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "patch/patch_engine.h"

namespace veupd::tool {

struct PatchVerdict {
  enum class Kind {
    kOk,
    kUnreadableUpdate,  // the update data file cannot be read
    kDamagedUpdate,     // cut short, changed, or an unknown token
    kWrongTokens,       // table tokens for a byte-level update or the reverse
    kOldMissing,        // made from an old file that is not there
    kWrongOldVersion,   // the old file's CRC differs from the recorded one
    kDoesNotFit,        // the engine fails on this old file (no CRC recorded)
    kWrongExpectedCrc,  // the result is whole but has another CRC
    kCannotTry,         // no scratch file for the result
  };
  Kind kind = Kind::kOk;
  std::string text;  // one line: what is wrong, or what was found
  std::optional<std::uint32_t> recorded_old_crc;
  std::optional<std::uint32_t> result_crc;  // nullopt: the result is empty (removed)
  std::uint64_t result_size = 0;
  [[nodiscard]] bool ok() const { return kind == Kind::kOk; }
};

// Applies into a scratch file in the system's temporary folder, which is
// removed again. expected: the CRC the control line wants, if any.
[[nodiscard]] PatchVerdict VerifyPatch(const std::string& old_path, const std::string& update_path,
                                       TokenSet tokens, std::optional<std::uint32_t> expected);

// "Invalid path (8): x" for an engine error entry.
[[nodiscard]] std::string EngineErrorText(const PatchErrorList::Entry& entry);

}  // namespace veupd::tool
