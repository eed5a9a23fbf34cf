// Copy files (opcode 1). A new copy lands beside an existing target under the
// "$U$" name and replaces it only after its CRC matches the source's. A
// wildcard copy lists each target folder once and looks every target up in
// that listing, instead of searching the folder for each file.
#include "commands/copy_files.h"

#include <cstdint>
#include <optional>
#include <string_view>

#include "commands/command_util.h"
#include "formats/crc32.h"
#include "platform/platform.h"

namespace veupd {
namespace {

constexpr std::string_view kTempSuffix = "$U$";
constexpr std::size_t kDriveRootLength = 3;  // "C:\" is created directly
constexpr std::uint32_t kPhaseSource = 1;
constexpr std::uint32_t kPhaseCopy = 2;
constexpr std::string_view kFailedStep = "Copying file(s) (%s -> %s)";
constexpr std::string_view kDoneStep = "Copying %d file(s) (%s -> %s)";

// Checksums a file in the given phase; reports error 7 naming it on failure.
ErrorCode Checksum(CommandHost& host, std::uint32_t phase, const std::string& path,
                   std::uint32_t& crc) {
  CDeltaCrc32& calc = host.Crc();
  calc.m_nPhase = phase;
  crc = 0;
  if (!calc.FileCrc(crc, path)) return host.Fail(Err::kCannotOpenSource, path);
  return ErrorCode::Ok();
}

// Where the copy learns whether names exist in the target's folder: the
// folder's listing when a wildcard copy has one, else a search per name.
struct TargetFolder {
  os::FolderNames* names = nullptr;
  std::string_view dir;  // the folder the listing is of

  // The name part of path when path lies directly in the listed folder.
  [[nodiscard]] std::optional<std::string_view> NameIn(std::string_view path) const {
    const std::size_t sep = cmd::LastSeparator(path);
    if (names == nullptr || sep == std::string_view::npos || path.substr(0, sep) != dir) return std::nullopt;
    return path.substr(sep + 1);
  }
  [[nodiscard]] bool Find(const std::string& path, os::DirEntry& entry) const {
    const auto name = NameIn(path);
    if (!name) return cmd::FindEntry(path, entry);
    const os::DirEntry* found = names->Find(*name);
    if (found == nullptr) return false;
    entry = *found;
    return true;
  }
  // Copies to a name just looked up: a listed name known missing is created
  // as written, without another search of the folder.
  [[nodiscard]] os::OsResult Copy(const std::string& source, const std::string& to, bool missing) const {
    const auto name = NameIn(to);
    if (!name || !missing) return os::CopyFileOver(source, to, /*overwrite=*/true);
    os::OsResult result = os::CopyFileToNewName(source, to);
    if (result.ok()) names->Add(os::DirEntry{std::string(*name), false, false, 0});
    return result;
  }
  // Renames the verified copy over the existing target in one step.
  [[nodiscard]] os::OsResult Replace(const std::string& from, const std::string& to) const {
    os::OsResult result = os::MoveReplace(from, to);
    if (const auto from_name = NameIn(from); from_name && result.ok()) names->Remove(*from_name);
    return result;
  }
};

// Copies source to copy_path and checks the copy against the source's CRC.
// Error 9 names source and copy; error 10 both values.
ErrorCode CopyAndVerify(CommandHost& host, const TargetFolder& folder, const std::string& source,
                        std::uint32_t source_crc, const std::string& copy_path, bool missing) {
  if (!folder.Copy(source, copy_path, missing).ok()) return host.Fail(Err::kCannotCopy, source, copy_path);
  std::uint32_t copy_crc = 0;
  if (ErrorCode rc = Checksum(host, kPhaseCopy, copy_path, copy_crc); !rc.ok()) return rc;
  if (copy_crc != source_crc) {
    return host.Fail(Err::kCopyCorrupted, source, CrcHex(source_crc), copy_path, CrcHex(copy_crc));
  }
  return ErrorCode::Ok();
}

// Puts a verified copy in the place of an existing target. No cleanup on
// failure: the log names what is left where.
ErrorCode ReplaceTarget(CommandHost& host, const TargetFolder& folder, const std::string& temp,
                        const std::string& target) {
  // One rename replaces the target, so that a run killed at any instant
  // leaves the old or the verified new file; a target that could not be
  // deleted (read-only, held open) is not replaced either.
  if (const os::OsResult moved = folder.Replace(temp, target); !moved.ok()) {
    if (os::TargetRefusedReplace(moved, target)) return host.Fail(Err::kCannotDeleteFile, target);
    return host.Fail(Err::kCannotCopy, temp, target);
  }
  return ErrorCode::Ok();
}

bool IsDotName(const std::string& name) { return !name.empty() && name.front() == '.'; }

ErrorCode CopyOne(CommandHost& host, const std::string& source, const std::string& target,
                  const TargetFolder& folder = {});

}  // namespace

bool MakeDirectoryPath(const std::string& path) {
  os::DirEntry found;
  if (cmd::FindEntry(path, found)) return true;
  if (path.size() > kDriveRootLength) {
    const std::size_t sep = cmd::LastSeparator(path);
    if (sep == std::string::npos) return false;
    if (!MakeDirectoryPath(path.substr(0, sep))) return false;
  }
  return os::MakeDirectory(path).ok();
}

ErrorCode CopyOneFile(CommandHost& host, const std::string& source, const std::string& target) {
  return CopyOne(host, source, target);
}

namespace {

ErrorCode CopyOne(CommandHost& host, const std::string& source, const std::string& target,
                  const TargetFolder& folder) {
  host.RefreshProgress();

  std::uint32_t source_crc = 0;
  if (ErrorCode rc = Checksum(host, kPhaseSource, source, source_crc); !rc.ok()) return rc;

  os::DirEntry existing;
  if (!folder.Find(target, existing)) {
    if (ErrorCode rc = CopyAndVerify(host, folder, source, source_crc, target, /*missing=*/true); !rc.ok()) {
      return rc;
    }
  } else if (existing.read_only) {
    return host.Fail(Err::kCannotDeleteFile, target);
  } else {
    const std::string temp = cmd::TemporaryName(target, kTempSuffix);
    os::DirEntry old_temp;
    const bool temp_missing = !folder.Find(temp, old_temp);
    if (ErrorCode rc = CopyAndVerify(host, folder, source, source_crc, temp, temp_missing); !rc.ok()) return rc;
    if (ErrorCode rc = ReplaceTarget(host, folder, temp, target); !rc.ok()) return rc;
  }

  ++host.Checkpoint().done_items;
  ++host.FileCounter();
  return ErrorCode::Ok();
}

}  // namespace

ErrorCode CopyMatchingFiles(CommandHost& host, const std::string& pattern, const std::string& target_dir) {
  const std::size_t sep = cmd::LastSeparator(pattern);
  if (sep == std::string::npos) return host.Fail(Err::kInvalidPath, pattern);
  const std::string source_dir = pattern.substr(0, sep + 1);
  const std::string mask = pattern.substr(sep + 1);

  os::DirSearch search;
  if (!search.Start(pattern).ok()) return ErrorCode::Ok();  // no match: nothing to copy

  os::FolderNames names;
  names.Load(target_dir);
  const TargetFolder folder{&names, target_dir};

  os::DirEntry entry;
  bool first = true;
  while (search.Next(entry)) {
    if (!first) host.RefreshProgress();
    first = false;
    if (!entry.is_dir) {
      if (ErrorCode rc = CopyOne(host, source_dir + entry.name, os::JoinAsGiven(target_dir, entry.name), folder);
          !rc.ok()) {
        return rc;
      }
      continue;
    }
    if (IsDotName(entry.name)) continue;  // ".", ".." and hidden folders such as .svn
    const std::string sub_target = os::JoinAsGiven(target_dir, entry.name);
    // A name the listing holds needs no directory search: it exists.
    if (names.Find(entry.name) == nullptr && !MakeDirectoryPath(sub_target)) {
      return host.Fail(Err::kCannotCreateDirectory, sub_target);
    }
    const std::string sub_pattern = os::JoinAsGiven(source_dir + entry.name, mask);
    if (ErrorCode rc = CopyMatchingFiles(host, sub_pattern, sub_target); !rc.ok()) return rc;
  }
  return ErrorCode::Ok();
}

ErrorCode RunCopyFiles(CommandHost& host) {
  const CommandContext& ctx = host.Context();
  const std::string source = ctx.Param(Slot::kParam1);
  const std::string target_dir = ctx.Param(Slot::kParam2);
  const std::string failed_step = FormatText(kFailedStep, {source, target_dir});

  if (ErrorCode rc = cmd::RequireParams(host, {Slot::kParam1, Slot::kParam2}); !rc.ok()) {
    return cmd::FailStep(host, failed_step, rc);
  }
  if (!MakeDirectoryPath(target_dir)) {
    return cmd::FailStep(host, failed_step, host.Fail(Err::kCannotCreateDirectory, target_dir));
  }
  host.FileCounter() = 0;

  ErrorCode rc;
  if (cmd::HasWildcard(source)) {
    rc = CopyMatchingFiles(host, source, target_dir);
  } else {
    host.RefreshProgress();
    const std::size_t sep = cmd::LastSeparator(source);
    if (sep == std::string::npos) {
      rc = ErrorCode(Err::kInvalidPath);
      return cmd::FailStep(host, failed_step, host.Fail(rc, source));
    }
    rc = CopyOne(host, source, target_dir + source.substr(sep));
  }

  if (!rc.ok()) return cmd::FailStep(host, failed_step, rc);
  host.ReportStep(/*success=*/true,
                  FormatText(kDoneStep, {std::int64_t{host.FileCounter()}, source, target_dir}),
                  rc);
  return rc;
}

}  // namespace veupd
