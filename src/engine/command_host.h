// What a command sees of the update thread that runs it: the current line,
// the two reporters, the checkpoint record and the thread's shared tools.
// Commands receive a CommandHost& and never reach for anything global.
// Update thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/command_context.h"
#include "engine/error_code.h"
#include "engine/stop_signal.h"

namespace veupd {

class CDeltaCrc32;
class CIniClass;
class CDynBuf;

// Checkpoint record: four little-endian unsigned 32-bit numbers.
struct CheckpointRecord {
  std::uint32_t line_count = 0;
  std::uint32_t line_index = 0;
  std::uint32_t phase = 0;
  std::uint32_t done_items = 0;
};
constexpr std::size_t kCheckpointSize = 4 * 4;  // lines, index, phase, done items

using Param = std::optional<std::string_view>;

// Where failures go: every failure is reported once, here, before its code
// is returned.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  // Counts the error and writes one error entry. A parameter left empty
  // (nullopt) is skipped on its own.
  virtual void ReportError(ErrorCode code, Param p1 = std::nullopt, Param p2 = std::nullopt,
                           Param p3 = std::nullopt, Param p4 = std::nullopt) = 0;
  // Called as work goes on (after each record of a patch).
  virtual void RefreshProgress() {}

  // Reports the failure and hands its code back: `return host.Fail(...)`.
  ErrorCode Fail(ErrorCode code, Param p1 = std::nullopt, Param p2 = std::nullopt, Param p3 = std::nullopt,
                 Param p4 = std::nullopt) {
    ReportError(code, p1, p2, p3, p4);
    return code;
  }
};

class CommandHost : public ErrorReporter {
 public:
  virtual CommandContext& Context() = 0;

  // Step reporter: one step entry (or none under the short-report flag).
  virtual void ReportStep(bool success, std::string_view text, ErrorCode code) = 0;
  [[nodiscard]] virtual std::uint32_t ErrorCount() const = 0;

  // The level's stop signal (the break command ends the level through it).
  virtual StopSignal& Stop() = 0;

  virtual CheckpointRecord& Checkpoint() = 0;
  virtual void WriteCheckpoint() = 0;
  // Per-command count of handled files (copy, clean, empty).
  virtual std::uint32_t& FileCounter() = 0;

  // Calls the pointer component's KOR_FdtPointer; returns its raw result.
  virtual int CallPointer(const std::string& structure, const std::string& data,
                          const std::string& index) = 0;

  virtual CDeltaCrc32& Crc() = 0;
  virtual CIniClass& Ini() = 0;
  virtual CDynBuf& PayloadBuffer() = 0;        // grow step 4096
  virtual std::span<std::uint8_t> CopyBuffer() = 0;  // 32768 bytes

  // Runs the command of an opcode on the current context (the conditional's
  // nested commands). Opcodes outside 1..13 run FDT-Update.
  virtual ErrorCode Dispatch(std::int32_t opcode) = 0;

  // Level-wide values of the application.
  [[nodiscard]] virtual std::int32_t Level() const = 0;
  [[nodiscard]] virtual bool ServerAutomation() const = 0;
  // Path of the update control file being run (error 16 names it). The
  // update thread overrides this; the default suits hosts without a file.
  [[nodiscard]] virtual std::string ControlFilePath() const { return {}; }
  // A text of the message dictionary, copied.
  [[nodiscard]] virtual std::string Message(std::uint32_t number) = 0;
  // Yes/No question from the update thread.
  [[nodiscard]] virtual bool AskYesNo(std::string_view text) = 0;
  // Refreshes the progress display (bar and counter).
  void RefreshProgress() override = 0;
  // Brings the progress dialog back to the foreground (after a started
  // program that was waited for).
  virtual void BringDialogToForeground() {}
};

// A command: runs on the current context, reports its own failures once,
// writes its one step line and returns its code.
using CommandFn = ErrorCode (*)(CommandHost& host);

}  // namespace veupd
