// Break after error: reports 27 and stops the level.
#include "engine/break_after_error.h"

namespace veupd {

ErrorCode RunBreakAfterError(CommandHost& host) {
  if (host.ErrorCount() == 0) return ErrorCode::Ok();
  const bool ask = host.Context().Param(Slot::kParam1) == "1" && !host.ServerAutomation();
  if (ask && !host.AskYesNo(host.Message(kBreakQuestionText))) return ErrorCode::Ok();
  const ErrorCode rc = Err::kBreakAfterError;
  host.ReportError(rc);
  host.Stop().Request(StopCause::kBreakAfterError);
  return rc;
}

}  // namespace veupd
