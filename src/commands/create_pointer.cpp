// Create pointer (opcode 6). The structure file is loaded only for the two
// file names in its header.
#include "commands/create_pointer.h"

#include <string>

#include "commands/command_util.h"
#include "platform/platform.h"
#include "tables/fdt.h"

namespace veupd {

namespace {

constexpr char kPlaceholder = '@';
constexpr std::uint32_t kPointerResultMask = 0xFFFF;

// Replaces the run from the first to the last '@' by value; false when the
// name holds no '@'.
bool FillPlaceholder(std::string& name, std::string_view value) {
  const std::size_t first = name.find(kPlaceholder);
  if (first == std::string::npos) return false;
  name.replace(first, name.rfind(kPlaceholder) - first + 1, value);
  return true;
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
  const std::string step = cmd::FormatText("Creating pointer (%s)", {structure});
  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam2}); !rc.ok()) return cmd::FailStep(host, step, rc);

  host.RefreshProgress();

  std::string data_name;
  std::string index_name;
  {
    FDT fdt;
    if (!fdt.NewStru(structure, data_name, index_name)) {
      const ErrorCode rc(Err::kFdtNotFound);
      host.ReportError(rc, structure);
      return cmd::FailStep(host, step, rc);
    }
    fdt.FreeStru();
  }

  if (data_name.find(kPlaceholder) != std::string::npos) {
    if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam3}); !rc.ok()) return cmd::FailStep(host, step, rc);
    (void)FillPlaceholder(data_name, variable);  // holds '@': always filled
    // Without '@' in the index name no index file name for this data set
    // can be formed; refused as FDT-Update refuses it.
    if (!FillPlaceholder(index_name, variable)) {
      const ErrorCode rc(Err::kInvalidPath);
      host.ReportError(rc, cmd::Join(dir, index_name));
      return cmd::FailStep(host, step, rc);
    }
  }
  const std::string data_path = cmd::Join(dir, data_name);
  const std::string index_path = cmd::Join(dir, index_name);

  os::DirEntry entry;
  if (cmd::FindEntry(data_path, entry)) {
    const auto r = static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(host.CallPointer(structure, data_path, index_path)) & kPointerResultMask);
    if (r != 0) {
      const ErrorCode rc(Err::kPointerFailed, r);
      host.ReportError(rc, structure, data_path, index_path);
      return cmd::FailStep(host, step, rc);
    }
    return cmd::FinishStep(host, step, ErrorCode::Ok());
  }
  // No data file: the table has been removed, and so goes its index.
  if (cmd::FindEntry(index_path, entry)) (void)os::RemoveFile(index_path);  // a left-over is not worth failing for
  return cmd::FinishStep(host, cmd::FormatText("Skipped creating pointer (%s)", {structure}), ErrorCode::Ok());
}

}  // namespace veupd
