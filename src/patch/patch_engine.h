// The patch engine: applies an update data file to an old file in one
// streaming pass and writes the new file front to back. Memory is bounded by
// the caller's buffers (payload at most 64 KiB, the copy buffer) plus two
// fixed 64 KiB stream buffers, whatever the file sizes. One call at a time per
// set of buffers (update thread only in the updater).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/command_host.h"
#include "engine/error_code.h"

namespace veupd {

class CDynBuf;

constexpr std::size_t kPatchCopyBufferSize = 32768;
constexpr std::size_t kPatchPayloadGrowStep = 4096;

// Fix-Update knows 'A', 'D', 'U' on bytes; FDT-Update adds 'a', 'd', 'u' and
// makes 'A', 'D', 'U' work on whole length-prefixed records.
enum class TokenSet : std::uint8_t { kFix, kFdt };

// Keeps the reported errors (tools and tests).
class PatchErrorList : public ErrorReporter {
 public:
  struct Entry {
    ErrorCode code;
    std::vector<std::string> params;  // the parameters given, in order
  };
  void ReportError(ErrorCode code, Param p1 = std::nullopt, Param p2 = std::nullopt,
                   Param p3 = std::nullopt, Param p4 = std::nullopt) override;
  std::vector<Entry> entries;
};

struct PatchBuffers {
  CDynBuf& payload;              // grows in kPatchPayloadGrowStep steps
  std::span<std::uint8_t> copy;  // kPatchCopyBufferSize bytes in the updater
};

struct ApplyRequest {
  std::string old_path;     // may name a missing file: then only 'A'/'a' work
  std::string update_path;  // the update data file
  // The new file. When empty, the new file is new_dir + separator + the name
  // part of old_path, and an old_path without a separator fails with 8.
  std::string new_path;
  std::string new_dir;
  TokenSet tokens = TokenSet::kFix;
  // Push the new file to the disk before closing it (the in-place commands,
  // which delete the old file afterwards).
  bool sync = false;
};

// Applies the records. Returns 0, or after reporting it: 2 (update data
// file), 8 (old path has no separator), 12 (new file), 13 (token), 14 (short
// payload), 15 (position below the old offset, beyond the old file, or the
// old offset past the old length at the end), 28 ('D'/'U'/'d'/'u' without
// the old file). An empty result is deleted. The old file is never written.
[[nodiscard]] ErrorCode ApplyUpdate(const ApplyRequest& request, PatchBuffers& buffers,
                                    ErrorReporter& reporter);

// The same with buffers of its own: old_path + update -> new_path.
[[nodiscard]] ErrorCode ApplyUpdate(const std::string& old_path, const std::string& update_path,
                                    const std::string& new_path, TokenSet tokens,
                                    ErrorReporter& reporter);

// dir + separator + the part of path after its last separator; false when
// path holds no separator.
[[nodiscard]] bool NewFilePath(std::string_view dir, std::string_view path, std::string& out);

}  // namespace veupd
