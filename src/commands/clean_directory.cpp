// Clean and empty directory (opcodes 2 and 7): one body, told apart by the
// flag handed to CleanDirectory.
#include "commands/clean_directory.h"

#include <cstdint>

#include "commands/command_util.h"
#include "platform/platform.h"

namespace veupd {
namespace {

constexpr std::string_view kFailedStep = "Empty directory (%s)";
constexpr std::string_view kDoneStep = "Cleaning directory (%d files) (%s)";

void CountItem(CommandHost& host) {
  ++host.FileCounter();
  ++host.Checkpoint().done_items;
}

ErrorCode RunClean(CommandHost& host, bool remove_subdirs) {
  const CommandContext& ctx = host.Context();
  const std::string directory = ctx.Param(Slot::kParam1);
  const std::string mask = ctx.Param(Slot::kParam2);
  const std::string dir_and_mask = os::JoinAsGiven(directory, mask);
  const std::string failed_step = FormatText(kFailedStep, {dir_and_mask});

  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1, Slot::kParam2}); !rc.ok()) {
    return cmd::FailStep(host, failed_step, rc);
  }
  host.RefreshProgress();
  host.FileCounter() = 0;
  if (!CleanDirectory(host, directory, mask, remove_subdirs)) {
    // The file that stopped the work was reported as error 21 already.
    host.ReportStep(/*success=*/false, failed_step, ErrorCode::Ok());
    return ErrorCode(Err::kCannotEmptyDirectory);
  }
  host.ReportStep(/*success=*/true,
                  FormatText(kDoneStep, {std::int64_t{host.FileCounter()}, dir_and_mask}),
                  ErrorCode::Ok());
  return ErrorCode::Ok();
}

}  // namespace

bool CleanDirectory(CommandHost& host, const std::string& directory, const std::string& mask,
                    bool remove_subdirs) {
  os::DirSearch search;
  if (!search.Start(os::JoinAsGiven(directory, mask)).ok()) return true;  // nothing matches

  os::DirEntry entry;
  bool first = true;
  while (search.Next(entry)) {
    if (!first) host.RefreshProgress();
    first = false;
    const std::string path = os::JoinAsGiven(directory, entry.name);
    if (!entry.is_dir) {
      if (!os::RemoveFile(path).ok()) {
        host.ReportError(ErrorCode(Err::kCannotEmptyDirectory), path);
        return false;
      }
      CountItem(host);
      continue;
    }
    if (!entry.name.empty() && entry.name.front() == '.') continue;
    if (!CleanDirectory(host, path, mask, remove_subdirs)) return false;
    // A folder still holding files outside the mask stays, without complaint.
    if (remove_subdirs && os::RemoveFolder(path).ok()) CountItem(host);
  }
  return true;
}

ErrorCode RunCleanDirectory(CommandHost& host) { return RunClean(host, /*remove_subdirs=*/false); }

ErrorCode RunEmptyDirectory(CommandHost& host) { return RunClean(host, /*remove_subdirs=*/true); }

}  // namespace veupd
