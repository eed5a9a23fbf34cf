// The update thread's copy of the current control line: what a command may
// read of it. Update thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace veupd {

constexpr int kUpdDirCount = 20;
constexpr int kParamCount = 5;

enum class Slot : int { kParam1 = 0, kParam2, kParam3, kParam4, kParam5 };

struct CommandContext {
  std::array<std::string, kUpdDirCount> upd_dir;  // UpdDir0 .. UpdDir19
  std::array<std::string, kParamCount> param;     // PARAM1 .. PARAM5
  std::int32_t opcode = 0;
  bool skip_after_error = false;
  bool short_report = false;
  std::string status_text;
  std::uint32_t line_count = 0;
  std::uint32_t line_index = 0;

  [[nodiscard]] const std::string& Param(Slot s) const { return param[static_cast<int>(s)]; }
};

// "PARAM1" .. "PARAM5", as error messages name the slots.
[[nodiscard]] inline std::string SlotName(Slot s) { return "PARAM" + std::to_string(static_cast<int>(s) + 1); }

}  // namespace veupd
