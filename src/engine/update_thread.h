// CUpdateThread: the run loop of one update level and what its commands see
// of it: the reporters, the checkpoint file, the pointer component and the
// shared tools. Part of a LevelRunner, which owns its thread, level log, stop
// signal and outcome; update thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/command_host.h"
#include "engine/control_reader.h"
#include "engine/level_state.h"
#include "formats/crc32.h"
#include "formats/dyn_buf.h"
#include "formats/ini_file.h"
#include "platform/platform.h"

namespace veupd {

class LevelRunner;

constexpr const char* kDefaultLogName = "DedozUdu.log";
constexpr const char* kCheckpointName = "UpdCtrl.log";
constexpr const char* kPointerDllName = "dodudav.dll";
constexpr const char* kPointerExport = "KOR_FdtPointer";
constexpr std::size_t kPayloadGrowStep = 4096;
constexpr std::size_t kCopyBufferSize = 32768;

// Level log path: directory and name joined as they stand.
[[nodiscard]] std::string LevelLogPath(const LevelSetup& setup);
// The control file's directory (up to its last separator) + "UpdCtrl.log".
[[nodiscard]] std::string CheckpointPath(const std::string& control_file);
// The 16 bytes of the record, little-endian.
[[nodiscard]] std::array<std::uint8_t, kCheckpointSize> EncodeCheckpoint(const CheckpointRecord& r);

class CUpdateThread final : public CommandHost {
 public:
  explicit CUpdateThread(LevelRunner& runner);
  CUpdateThread(const CUpdateThread&) = delete;
  CUpdateThread& operator=(const CUpdateThread&) = delete;

  void SetDialog(LevelDialog* dialog) { dialog_ = dialog; }
  // The run loop; returns when the level is over. Does nothing without a
  // dialog.
  void Run();
  // Clears the running flag, sets the finished flag, posts the close request.
  void ExitInstance();
  // The level's end on an exception that escaped a command.
  void EndOnInternalError(std::string_view what);

  // CommandHost
  CommandContext& Context() override { return ctx_; }
  void ReportError(ErrorCode code, Param p1 = std::nullopt, Param p2 = std::nullopt,
                   Param p3 = std::nullopt, Param p4 = std::nullopt) override;
  void ReportStep(bool success, std::string_view text, ErrorCode code) override;
  [[nodiscard]] std::uint32_t ErrorCount() const override { return error_count_; }
  StopSignal& Stop() override;
  CheckpointRecord& Checkpoint() override { return checkpoint_; }
  void WriteCheckpoint() override;
  std::uint32_t& FileCounter() override { return file_counter_; }
  int CallPointer(const std::string& structure, const std::string& data,
                  const std::string& index) override;
  CDeltaCrc32& Crc() override { return crc_; }
  CIniClass& Ini() override { return ini_; }
  CDynBuf& PayloadBuffer() override { return payload_; }
  std::span<std::uint8_t> CopyBuffer() override { return copy_buffer_; }
  ErrorCode Dispatch(std::int32_t opcode) override;
  [[nodiscard]] std::int32_t Level() const override;
  [[nodiscard]] bool ServerAutomation() const override;
  [[nodiscard]] std::string ControlFilePath() const override;
  [[nodiscard]] std::string Message(std::uint32_t number) override;
  [[nodiscard]] bool AskYesNo(std::string_view text) override;
  void RefreshProgress() override;
  void BringDialogToForeground() override;

 private:
  [[nodiscard]] bool LoadPointer();
  [[nodiscard]] bool StartLines();  // checkpoint cleared, lines counted
  void RunLines();
  void RunLine();
  [[nodiscard]] ReadResult ReadCommand();
  void EndLevel();  // checkpoint gone, result, closing banner, ExitInstance
  void StopUnfinished();  // on a stop from outside: checkpoint kept, no banner
  void SetResult(std::uint32_t result);
  void WriteClosingBanner();
  void RemoveCheckpoint();
  void WriteLog(std::string_view text);

  LevelRunner& runner_;
  const LevelSetup& setup_;
  LevelDialog* dialog_ = nullptr;
  ControlReader reader_{std::string()};  // remembers where the next line starts
  std::string checkpoint_path_;

  CommandContext ctx_;
  CheckpointRecord checkpoint_;
  std::uint32_t error_count_ = 0;
  std::uint32_t file_counter_ = 0;

  os::Module pointer_module_;  // unloaded when the thread object goes
  void* pointer_entry_ = nullptr;
  CDeltaCrc32 crc_;
  CIniClass ini_;
  CDynBuf payload_{kPayloadGrowStep};
  std::vector<std::uint8_t> copy_buffer_ = std::vector<std::uint8_t>(kCopyBufferSize);
};

}  // namespace veupd
