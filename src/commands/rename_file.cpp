// Rename (opcode 12). The move never replaces: an existing name of the new
// path leaves both files as they were.
#include "commands/rename_file.h"

#include <string>

#include "commands/command_util.h"
#include "platform/platform.h"

namespace veupd {

ErrorCode RunRename(CommandHost& host) {
  const CommandContext& ctx = host.Context();
  const std::string& old_path = ctx.Param(Slot::kParam1);
  const std::string& new_name = ctx.Param(Slot::kParam2);

  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1}); !rc.ok()) return cmd::FailStep(host, "Rename", rc);
  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam2}); !rc.ok()) {
    return cmd::FailStep(host, FormatText("Rename (%s)", {old_path}), rc);
  }
  if (os::HasSeparator(new_name)) return host.Fail(Err::kInvalidPath, new_name);
  const std::size_t sep = cmd::LastSeparator(old_path);
  if (sep == std::string::npos) return host.Fail(Err::kInvalidPath, old_path);
  const std::string new_path = old_path.substr(0, sep + 1) + new_name;
  if (!os::MoveNoReplace(old_path, new_path).ok()) return host.Fail(Err::kCannotRename, old_path, new_path);
  return ErrorCode::Ok();
}

}  // namespace veupd
