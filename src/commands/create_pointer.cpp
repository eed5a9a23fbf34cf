// Create pointer (opcode 6). The structure file is loaded only for the two
// file names in its header.
#include "commands/create_pointer.h"

#include <string>

#include "commands/command_util.h"
#include "engine/pointer_step.h"
#include "platform/platform.h"
#include "tables/fdt.h"

namespace veupd {

namespace {

constexpr char kPlaceholder = '@';

bool FoundBySearch(const std::string& path) {
  os::DirEntry entry;
  return cmd::FindEntry(path, entry);
}

}  // namespace

ErrorCode RunCreatePointer(CommandHost& host) {
  const CommandContext& ctx = host.Context();
  const std::string structure = ctx.Param(Slot::kParam1);
  const std::string dir = ctx.Param(Slot::kParam2);
  const std::string variable = ctx.Param(Slot::kParam3);

  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1}); !rc.ok()) {
    return cmd::FailStep(host, "Creating pointer", rc);
  }
  const std::string step = FormatText("Creating pointer (%s)", {structure});
  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam2}); !rc.ok()) return cmd::FailStep(host, step, rc);

  host.RefreshProgress();

  std::string data_name;
  std::string index_name;
  {
    FDT fdt;
    if (!fdt.NewStru(structure, data_name, index_name)) {
      return cmd::FailStep(host, step, host.Fail(Err::kFdtNotFound, structure));
    }
    fdt.FreeStru();
  }

  if (data_name.find(kPlaceholder) != std::string::npos) {
    if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam3}); !rc.ok()) return cmd::FailStep(host, step, rc);
    (void)FillPlaceholder(data_name, variable);  // holds '@': always filled
    // Without '@' in the index name no index file name for this data set
    // can be formed; refused as FDT-Update refuses it.
    if (!FillPlaceholder(index_name, variable)) {
      return cmd::FailStep(host, step, host.Fail(Err::kInvalidPath, os::JoinAsGiven(dir, index_name)));
    }
  }
  const std::string data_path = os::JoinAsGiven(dir, data_name);
  const std::string index_path = os::JoinAsGiven(dir, index_name);

  bool data_found = false;
  const ErrorCode rc = RunPointerStep(host, structure, data_path, index_path, FoundBySearch, data_found);
  // No data file: the table has been removed, and so has its index.
  if (!data_found) return cmd::FinishStep(host, FormatText("Skipped creating pointer (%s)", {structure}), rc);
  return cmd::FinishStep(host, step, rc);
}

}  // namespace veupd
