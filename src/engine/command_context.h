// The update thread's copy of the current control line: what a command may
// read of it. Update thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace veupd {

constexpr int kUpdDirCount = 20;
constexpr int kParamCount = 5;

// The command an opcode selects. Every value outside 1 to 13 runs FDT-Update.
enum class Opcode : std::int32_t {
  kFdtUpdate = 0,
  kCopyFiles = 1,
  kCleanDirectory = 2,
  kEditIniFile = 3,
  kFixUpdate = 4,
  kProgramCall = 5,
  kCreatePointer = 6,
  kEmptyDirectory = 7,
  kBreakAfterError = 8,
  kConditional = 9,
  kFdtUpdateInPlace = 10,
  kFixUpdateInPlace = 11,
  kRename = 12,
  kUpdateFdb = 13,
};
constexpr Opcode kLastOpcode = Opcode::kUpdateFdb;

// The command a decoded opcode value runs.
[[nodiscard]] constexpr Opcode CommandOf(std::int32_t value) {
  const bool known = value >= static_cast<std::int32_t>(Opcode::kCopyFiles) &&
                     value <= static_cast<std::int32_t>(kLastOpcode);
  return known ? static_cast<Opcode>(value) : Opcode::kFdtUpdate;
}

enum class Slot : int { kParam1 = 0, kParam2, kParam3, kParam4, kParam5 };

struct CommandContext {
  std::array<std::string, kUpdDirCount> upd_dir;  // UpdDir0 .. UpdDir19
  std::array<std::string, kParamCount> param;     // PARAM1 .. PARAM5
  std::int32_t opcode = 0;
  bool skip_after_error = false;
  bool short_report = false;
  std::uint32_t line_count = 0;
  std::uint32_t line_index = 0;

  [[nodiscard]] const std::string& Param(Slot s) const { return param[static_cast<int>(s)]; }
};

// "PARAM1" .. "PARAM5", as error messages name the slots.
[[nodiscard]] inline std::string SlotName(Slot s) { return "PARAM" + std::to_string(static_cast<int>(s) + 1); }

}  // namespace veupd
