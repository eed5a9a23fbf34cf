#include "patch_check.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "engine/message_table.h"
#include "formats/crc32.h"
#include "formats/text_format.h"
#include "patch/update_data.h"
#include "platform/platform.h"

namespace veupd::tool {

std::string EngineErrorText(const PatchErrorList::Entry& entry) {
  std::string text(ErrorMessage(entry.code.code()));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  text += " (" + std::to_string(entry.code.code()) + ")";
  for (std::size_t i = 0; i < entry.params.size(); ++i) text += (i == 0 ? ": " : ", ") + entry.params[i];
  return text;
}

namespace {

std::string ScratchPath() {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  // Several tools may run at once: a random part keeps their files apart.
  const std::string name = "veupd-tool-" + std::to_string(std::random_device{}()) + "-" +
                           std::to_string(counter.fetch_add(1)) + ".tmp";
  return (dir / name).string();
}

PatchVerdict Verdict(PatchVerdict::Kind kind, std::string text) {
  PatchVerdict v;
  v.kind = kind;
  v.text = std::move(text);
  return v;
}

}  // namespace

PatchVerdict VerifyPatch(const std::string& old_path, const std::string& update_path, TokenSet tokens,
                         std::optional<std::uint32_t> expected) {
  using Kind = PatchVerdict::Kind;
  const std::optional<UpdateDataScan> scan = ScanUpdateData(update_path);
  if (!scan) return Verdict(Kind::kUnreadableUpdate, "cannot read the update data " + update_path);
  if (scan->short_payload) {
    return Verdict(Kind::kDamagedUpdate,
                   "damaged update data " + update_path + ": the record at byte " +
                       std::to_string(scan->short_offset) + " announces " + std::to_string(scan->short_length) +
                       " payload bytes, only " + std::to_string(scan->short_got) + " follow (cut short?)");
  }
  if (scan->Damaged()) {
    return Verdict(Kind::kDamagedUpdate, "damaged update data " + update_path + ": the " +
                                             std::to_string(scan->size - scan->records_end) +
                                             " bytes after the last record are no whole old-file trailer "
                                             "(changed or cut short, or not made by veupd-tool diff)");
  }
  if (scan->unknown_token) {
    return Verdict(Kind::kDamagedUpdate, "damaged update data " + update_path + ": token byte " +
                                             std::to_string(*scan->unknown_token) + " is no update token");
  }
  if (scan->lower_case_tokens && tokens == TokenSet::kFix) {
    return Verdict(Kind::kWrongTokens, "the update data " + update_path +
                                           " holds table tokens (a, d, u): it is made for FDT-Update (opcode 0 or A, "
                                           "veupd-tool --records), not Fix-Update");
  }
  CCrc32 calc;
  std::uint32_t old_crc = 0;
  const bool old_present = os::Exists(old_path) && calc.FileCrc(old_crc, old_path);
  std::string found;
  if (scan->old_crc) {
    if (!old_present) {
      PatchVerdict v = Verdict(Kind::kOldMissing, "the old file " + old_path +
                                                      " is missing; the update was made from a file with CRC " +
                                                      CrcHex(*scan->old_crc));
      v.recorded_old_crc = scan->old_crc;
      return v;
    }
    if (old_crc != *scan->old_crc) {
      PatchVerdict v = Verdict(Kind::kWrongOldVersion, "wrong old version: " + old_path + " has CRC " + CrcHex(old_crc) +
                                                           ", the update was made from a file with CRC " +
                                                           CrcHex(*scan->old_crc));
      v.recorded_old_crc = scan->old_crc;
      return v;
    }
    found = "the old file is the version the update was made from (CRC " + CrcHex(old_crc) + ")";
  } else {
    found = "the update data carries no old-file CRC";
  }

  const std::string scratch = ScratchPath();
  if (scratch.empty()) return Verdict(Kind::kCannotTry, "no temporary folder to try the update in");
  PatchErrorList errors;
  const ErrorCode code = ApplyUpdate(old_path, update_path, scratch, tokens, errors);
  PatchVerdict v;
  v.recorded_old_crc = scan->old_crc;
  if (!code.ok()) {
    (void)os::RemoveFile(scratch);
    const std::string engine = errors.entries.empty() ? "error " + std::to_string(code.code())
                                                      : EngineErrorText(errors.entries.front());
    if (scan->old_crc) {
      v.kind = Kind::kDamagedUpdate;
      v.text = "damaged update data " + update_path + " (the old file is right): " + engine;
    } else {
      v.kind = Kind::kDoesNotFit;
      v.text = "the update data " + update_path + " does not fit " + old_path +
               " (a wrong old version or damaged update data; it carries no old-file CRC to tell): " + engine;
    }
    return v;
  }
  std::uint32_t result_crc = 0;
  if (os::Exists(scratch)) {
    if (!calc.FileCrc(result_crc, scratch)) {
      (void)os::RemoveFile(scratch);
      return Verdict(Kind::kCannotTry, "cannot read the result in " + scratch);
    }
    v.result_crc = result_crc;
    std::error_code ec;
    v.result_size = std::filesystem::file_size(scratch, ec);
    (void)os::RemoveFile(scratch);
  }
  const std::uint32_t shown = v.result_crc.value_or(0);
  if (expected && *expected != shown && !(v.result_crc == std::nullopt && *expected == 0)) {
    v.kind = Kind::kWrongExpectedCrc;
    v.text = "the result has CRC " + CrcHex(shown) + ", the line expects " + CrcHex(*expected) +
             (scan->old_crc ? ": wrong expected CRC (old file and update data are right)"
                            : ": wrong expected CRC, or a wrong old version (no old-file CRC recorded to tell)");
    return v;
  }
  v.text = found + "; result " + (v.result_crc ? "CRC " + CrcHex(shown) : std::string("empty (the file is removed)"));
  return v;
}

}  // namespace veupd::tool
