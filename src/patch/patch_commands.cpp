// The command frame of the patch commands: slot checks, the phase loop with
// a checkpoint after every step, and the steps apply, verify, replace (in
// place) and pointer (table updates). Update thread only.
#include "patch/patch_commands.h"

#include <array>
#include <string>

#include "engine/pointer_step.h"
#include "formats/crc32.h"
#include "formats/text_format.h"
#include "patch/patch_engine.h"
#include "patch/patch_steps.h"
#include "platform/platform.h"
#include "tables/fdb_update_control.h"
#include "tables/fdt.h"

namespace veupd {

namespace {

// Phases kept in the checkpoint record.
constexpr std::uint32_t kPhaseDone = 0;  // also "apply" at the start; 1 is handled alike
constexpr std::uint32_t kPhaseVerify = 2;
constexpr std::uint32_t kPhasePointer = 3;

// Skips verification when given as PARAM3 together with an expected CRC of 0.
constexpr std::string_view kNoCheckUpdateName = "XXXXXX";
// The new index beside the old one until the data file has been replaced.
constexpr std::string_view kIndexTempSuffix = "$I$";

enum class Kind { kFix, kFdt, kFixInPlace, kFdtInPlace };

class PatchCommand {
 public:
  PatchCommand(CommandHost& host, Kind kind) : host_(host), kind_(kind) {
    const CommandContext& ctx = host.Context();
    for (int i = 0; i < kParamCount; ++i) p_[i] = ctx.param[i];
  }

  ErrorCode Run() {
    const int required = InPlace() ? 3 : 4;
    for (int i = 0; i < required; ++i) {
      if (p_[i].empty()) {
        const ErrorCode rc = host_.Fail(Err::kParamMissing, SlotName(static_cast<Slot>(i)));
        host_.ReportStep(false, i == 0 ? std::string(Name()) : StepText(), rc);
        return rc;
      }
    }
    if (InPlace()) temp_ = InPlaceTemporaryPath(p_[0]);

    CheckpointRecord& cp = host_.Checkpoint();
    ErrorCode rc;
    for (;;) {
      rc = RunPhase(cp.phase);
      host_.WriteCheckpoint();
      host_.RefreshProgress();
      if (!rc.ok() || cp.phase == kPhaseDone) break;
    }
    ++cp.done_items;
    host_.ReportStep(rc.ok(), StepText(), rc);
    return rc;
  }

 private:
  [[nodiscard]] bool InPlace() const { return kind_ == Kind::kFixInPlace || kind_ == Kind::kFdtInPlace; }
  [[nodiscard]] bool Table() const { return kind_ == Kind::kFdt || kind_ == Kind::kFdtInPlace; }
  [[nodiscard]] std::string_view Name() const {
    if (kind_ == Kind::kFdt) return "FDT-Update";
    if (kind_ == Kind::kFdtInPlace) return "FDT-Update-InPlace";
    return "Fix-Update";
  }
  [[nodiscard]] std::string StepText() const { return std::string(Name()) + " (" + p_[0] + ")"; }

  // Runs the step of the phase and advances the phase when it succeeds.
  ErrorCode RunPhase(std::uint32_t& phase) {
    if (phase == kPhaseVerify) {
      ErrorCode rc = Verify();
      if (!rc.ok()) return rc;
      if (kind_ == Kind::kFixInPlace) {
        phase = kPhaseDone;
        return Replace();
      }
      phase = Table() ? kPhasePointer : kPhaseDone;
      return rc;
    }
    if (phase == kPhasePointer && Table()) {
      ErrorCode rc = kind_ == Kind::kFdtInPlace ? ReplaceWithIndex() : Pointer();
      if (rc.ok()) phase = kPhaseDone;
      return rc;
    }
    if (InterruptedReplacement()) {
      phase = kPhaseVerify;
      return {};
    }
    // 0, 1 and any value the command does not use: apply from the start,
    // which is always safe as the old file is still untouched.
    ErrorCode rc = Apply();
    if (rc.ok()) phase = kPhaseVerify;
    return rc;
  }

  ErrorCode Apply() {
    if (Table()) host_.RefreshProgress();
    ApplyRequest req;
    req.old_path = p_[0];
    req.update_path = p_[2];
    req.tokens = Table() ? TokenSet::kFdt : TokenSet::kFix;
    if (InPlace()) {
      // A PARAM1 ending in ".DU$" would be its own temporary file: creating
      // it would destroy the old file, and the replacement would delete the
      // result. Refused as a temporary file that cannot be created.
      if (SamePathIgnoringCase(temp_, p_[0])) return host_.Fail(Err::kCannotCreateNewFile, temp_);
      req.new_path = temp_;
      req.sync = true;  // the old file is deleted once this one is verified
    } else {
      req.new_dir = p_[3];
    }
    PatchBuffers buffers{host_.PayloadBuffer(), host_.CopyBuffer()};
    return ApplyUpdate(req, buffers, host_);
  }

  ErrorCode Verify() {
    const std::uint32_t expected = CFdbUpdateControl::HexToNumber(p_[1]);
    if (expected == 0 && p_[2] == kNoCheckUpdateName) return {};
    host_.RefreshProgress();
    std::string file;
    if (InPlace()) {
      file = temp_;
    } else {
      if (!NewFilePath(p_[3], p_[0], file)) return host_.Fail(Err::kInvalidPath, p_[0]);
    }
    // An expected CRC of 0 with no file: the update removed it.
    if (expected == 0 && !os::Exists(file)) return {};
    CDeltaCrc32& crc = host_.Crc();
    crc.m_nPhase = 0;
    std::uint32_t value = 0;
    if (!crc.FileCrc(value, file)) return host_.Fail(Err::kCannotOpenSource, file);
    if (value != expected) {
      return host_.Fail(Err::kFileCheckFailed, host_.ControlFilePath(), CrcHex(expected), file, CrcHex(value));
    }
    return {};
  }

  // An earlier run deleted the old file but could not rename the temporary
  // file, which holds the verified new version. Applying again would truncate
  // it with no old file left to rebuild it from; the replacement is finished
  // instead, after the temporary file passes the check once more.
  bool InterruptedReplacement() {
    if (!InPlace() || os::Exists(p_[0]) || !os::Exists(temp_)) return false;
    const std::uint32_t expected = CFdbUpdateControl::HexToNumber(p_[1]);
    std::uint32_t value = 0;
    CDeltaCrc32& crc = host_.Crc();
    crc.m_nPhase = 0;
    return expected != 0 && crc.FileCrc(value, temp_) && value == expected;
  }

  // Puts the verified temporary file in the old file's place.
  ErrorCode Replace() {
    if (SamePathIgnoringCase(temp_, p_[0])) {  // see Apply(): never delete the result itself
      return host_.Fail(Err::kCannotCreateNewFile, temp_);
    }
    // No temporary file: the update emptied the file, which is deleted.
    if (!os::Exists(temp_)) {
      if (os::Exists(p_[0]) && !os::RemoveFile(p_[0]).ok()) return host_.Fail(Err::kCannotDeleteFile, p_[0]);
      return {};
    }
    // One rename replaces the old file, so that a run killed at any instant
    // leaves the old or the verified new file under its name; a file that
    // could not be deleted (read-only, held open) is not replaced either.
    if (const os::OsResult moved = os::MoveReplace(temp_, p_[0]); !moved.ok()) {
      if (os::TargetRefusedReplace(moved, p_[0])) return host_.Fail(Err::kCannotDeleteFile, p_[0]);
      return host_.Fail(Err::kCannotRename, temp_, p_[0]);
    }
    return {};
  }

  // The structure's data and index file paths for the new data file; the
  // errors are reported only when `report` is set.
  ErrorCode PointerPaths(const std::string& structure, std::string& data_path, std::string& index_path,
                         bool report) {
    std::string data_name;
    std::string index_name;
    {
      FDT fdt;
      if (!fdt.NewStru(structure, data_name, index_name)) {
        return report ? host_.Fail(Err::kFdtNotFound, structure, data_name, index_name) : ErrorCode(Err::kFdtNotFound);
      }
      fdt.FreeStru();
    }

    const std::size_t sep = os::FindLastSeparator(p_[0]);
    if (sep == std::string::npos) return report ? host_.Fail(Err::kInvalidPath, p_[0]) : ErrorCode(Err::kInvalidPath);
    const std::string_view actual_name = std::string_view(p_[0]).substr(sep + 1);
    if (InPlace()) {
      // Beside the updated data file.
      const std::string dir = p_[0].substr(0, sep + 1);
      index_path = dir + index_name;
      data_path = p_[0];
    } else {
      index_path = os::JoinAsGiven(p_[3], index_name);
      data_path = os::JoinAsGiven(p_[3], actual_name);
    }
    if (data_name.find('@') != std::string::npos &&
        !SubstitutePlaceholder(data_name, actual_name, index_path)) {
      return report ? host_.Fail(Err::kInvalidPath, index_path) : ErrorCode(Err::kInvalidPath);
    }
    return {};
  }

  // Has the pointer component rebuild the index file of the new data file,
  // or removes the index file when the data file is gone.
  ErrorCode Pointer() {
    const std::string& structure = kind_ == Kind::kFdtInPlace ? p_[3] : p_[4];
    if (structure.empty()) return {};
    host_.RefreshProgress();
    std::string data_path;
    std::string index_path;
    if (ErrorCode rc = PointerPaths(structure, data_path, index_path, /*report=*/true); !rc.ok()) return rc;
    bool data_found = false;
    return RunPointerStep(host_, structure, data_path, index_path, os::Exists, data_found);
  }

  // FDT-Update-InPlace's replacement and pointer step. The new index is built
  // from the verified temporary file before the data file is replaced and
  // renamed into place right after it, so that a run killed in between finds
  // an index of the data it holds but for the instant between two renames.
  // Whatever goes wrong early falls back to the pointer step after the
  // replacement, with its own errors.
  ErrorCode ReplaceWithIndex() {
    std::string early_index;
    std::string data_path;
    std::string index_path;
    const std::string& structure = p_[3];
    if (!structure.empty() && os::Exists(temp_) &&
        PointerPaths(structure, data_path, index_path, /*report=*/false).ok()) {
      host_.RefreshProgress();
      const std::string temp_index = index_path + std::string(kIndexTempSuffix);
      if (CallPointerComponent(host_, structure, temp_, temp_index) == 0) early_index = temp_index;
    }
    if (ErrorCode rc = Replace(); !rc.ok()) {
      if (!early_index.empty()) (void)os::RemoveFile(early_index);
      return rc;
    }
    if (!early_index.empty()) {
      if (os::MoveReplace(early_index, index_path).ok()) return {};
      (void)os::RemoveFile(early_index);
    }
    return Pointer();
  }

  CommandHost& host_;
  Kind kind_;
  std::array<std::string, kParamCount> p_;
  std::string temp_;
};

}  // namespace

ErrorCode RunFixUpdate(CommandHost& host) { return PatchCommand(host, Kind::kFix).Run(); }
ErrorCode RunFdtUpdate(CommandHost& host) { return PatchCommand(host, Kind::kFdt).Run(); }
ErrorCode RunFdtUpdateInPlace(CommandHost& host) { return PatchCommand(host, Kind::kFdtInPlace).Run(); }
ErrorCode RunFixUpdateInPlace(CommandHost& host) { return PatchCommand(host, Kind::kFixInPlace).Run(); }

}  // namespace veupd
