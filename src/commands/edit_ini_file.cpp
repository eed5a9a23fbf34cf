// Edit ini file (opcode 3). Failures of the file edit itself are not
// reported: only missing slots (4) and unknown actions (6) fail.
#include "commands/edit_ini_file.h"

#include <cstdint>
#include <string>

#include "commands/command_util.h"
#include "formats/ini_file.h"

namespace veupd {
namespace {

constexpr bool kNoCase = true;
constexpr std::string_view kToggleOn = "1";
constexpr std::string_view kToggleOff = "2";

}  // namespace

ErrorCode RunEditIniFile(CommandHost& host) {
  const CommandContext& ctx = host.Context();
  const std::string& file = ctx.Param(Slot::kParam1);
  const std::string& action = ctx.Param(Slot::kParam2);
  const std::string& section = ctx.Param(Slot::kParam3);
  const std::string& key = ctx.Param(Slot::kParam4);
  const std::string& value = ctx.Param(Slot::kParam5);
  const std::string failed_step = FormatText("Edit inifile (%s)", {file});

  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1}); !rc.ok()) {
    return cmd::FailStep(host, "Edit inifile", rc);
  }
  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam2, Slot::kParam3, Slot::kParam4});
      !rc.ok()) {
    return cmd::FailStep(host, failed_step, rc);
  }
  // Any action but D and T needs a value, unknown ones included.
  if (action != "D" && action != "T" && value.empty()) {
    return cmd::FailStep(host, failed_step, host.Fail(Err::kParamMissing, SlotName(Slot::kParam5), action));
  }
  host.RefreshProgress();

  CIniClass& ini = host.Ini();
  std::string current;
  // Results of writes and deletes are deliberately not examined.
  if (action == "D") {
    (void)ini.DeleteKey(section, key, file, kNoCase);
  } else if (action == "U") {
    if (ini.ReadValue(section, key, "", current, file, kNoCase)) {
      (void)ini.WriteValue(section, key, value, file, kNoCase);
    }
  } else if (action == "A") {
    (void)ini.WriteValue(section, key, value, file, kNoCase);
  } else if (action == "T") {
    if (ini.ReadValue(section, key, "", current, file, kNoCase)) {
      (void)ini.WriteValue(section, key, current == kToggleOn ? kToggleOff : kToggleOn, file,
                           kNoCase);
    }
  } else {
    return cmd::FailStep(host, failed_step, host.Fail(Err::kUnknownParam, action));
  }
  host.ReportStep(/*success=*/true, FormatText("Editing ini file (%s -> %s)", {file, action}),
                  ErrorCode::Ok());
  return ErrorCode::Ok();
}

}  // namespace veupd
