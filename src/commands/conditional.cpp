// Conditional (opcode 9). Only one level of nesting: the digit 9 (itself)
// is refused with code 6, without an error entry.
#include "commands/conditional.h"

#include <cstdint>
#include <string>

#include "commands/command_util.h"

namespace veupd {
namespace {

constexpr std::size_t kPrefixLength = 2;  // selector, opcode digit
constexpr int kFirstLetterDir = 10;  // 'A' selects UpdDir10

// The update directory a selector names, or -1 for none.
int SelectedDirectory(char selector) {
  if (selector >= '0' && selector <= '9') return selector - '0';
  if (selector >= 'A' && selector <= 'J') return kFirstLetterDir + (selector - 'A');
  return -1;
}

}  // namespace

ErrorCode RunConditional(CommandHost& host) {
  CommandContext& ctx = host.Context();
  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1}); !rc.ok()) return cmd::FailStep(host, "Conditional", rc);
  std::string& param1 = ctx.param[static_cast<int>(Slot::kParam1)];
  const char selector = param1[0];
  const int dir = SelectedDirectory(selector);
  if (dir < 0 || ctx.upd_dir[static_cast<std::size_t>(dir)].empty()) {
    host.ReportStep(/*success=*/true,
                    FormatText("Conditional not executed, %s was empty",
                                    {std::string_view(&selector, 1)}),
                    ErrorCode::Ok());
    return ErrorCode::Ok();
  }
  const char digit = param1.size() > 1 ? param1[1] : '\0';
  const std::int32_t opcode = (digit >= '0' && digit <= '9') ? digit - '0' : 0;
  param1.erase(0, kPrefixLength);

  const std::int64_t number = opcode;
  host.ReportStep(/*success=*/true, FormatText("Conditional executing command %d", {number}),
                  ErrorCode::Ok());
  if (opcode == static_cast<std::int32_t>(Opcode::kConditional)) {
    // Logged only: the level's error count does not grow.
    host.ReportStep(/*success=*/false,
                    FormatText("Conditional command (%d) not found !", {number}),
                    ErrorCode::Ok());
    return ErrorCode(Err::kUnknownParam);
  }
  // The line's opcode is the nested one from here on, also after the call.
  ctx.opcode = opcode;
  return host.Dispatch(opcode);
}

}  // namespace veupd
