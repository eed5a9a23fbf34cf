// Update FDB command: chooses the driver's form and logs its outcome.
#include "commands/update_fdb.h"

#include <string>

#include "commands/command_util.h"
#include "tables/fdb_update_control.h"

namespace veupd {

ErrorCode RunUpdateFdb(CommandHost& host) {
  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1}); !rc.ok()) return cmd::FailStep(host, "FDB Update", rc);
  const CommandContext& ctx = host.Context();
  const std::string& target = ctx.Param(Slot::kParam1);
  const std::string& mode = ctx.Param(Slot::kParam2);
  const std::string& argument = ctx.Param(Slot::kParam3);
  const ErrorCode failed(Err::kFdbUpdateFailed);

  CFdbUpdateControl driver;
  // One change only when both mode and argument are given; a line with just
  // one of them names a control list.
  const bool single = !mode.empty() && !argument.empty();
  std::string step;
  if (single) {
    step = FormatText("Updating FDB (%s)", {target});
    if (driver.UpdateEntry(target, mode, argument)) return cmd::FinishStep(host, step, ErrorCode::Ok());
    host.ReportError(failed, target, mode, argument);
  } else {
    step = FormatText("Updating FDB using file (%s)", {target});
    if (driver.Run(target)) return cmd::FinishStep(host, step, ErrorCode::Ok());
    host.ReportError(failed, target);
  }
  host.ReportStep(/*success=*/false, step, failed);
  host.ReportStep(/*success=*/false, driver.GetMessages(), failed);
  return failed;
}

}  // namespace veupd
