// CUpdateThread: runs one update level on its own thread: the level log,
// the pointer component, the control lines one after the other, the
// checkpoint file and the progress refresh. Created by the level starter on
// the main thread, run on the update thread, deleted by the progress dialog
// after the thread has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/command_host.h"
#include "engine/control_reader.h"
#include "engine/level_state.h"
#include "engine/log_class.h"
#include "formats/crc32.h"
#include "formats/dyn_buf.h"
#include "formats/ini_file.h"
#include "platform/platform.h"

namespace veupd {

// What the level starter needs from the start-up parameters.
struct LevelSetup {
  UpdDirs upd_dirs;
  std::string control_file;
  std::string log_dir;   // prepared: ends in a separator
  std::string log_name;  // prepared; empty gives kDefaultLogName
  bool in_place_mode = false;
  std::string program_dir;
};

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
  CUpdateThread(LevelState& state, TextSource& texts, const CommandTable& commands);
  ~CUpdateThread() override;
  CUpdateThread(const CUpdateThread&) = delete;
  CUpdateThread& operator=(const CUpdateThread&) = delete;

  // Level starter. Does nothing while an earlier thread in `slot` still runs;
  // otherwise replaces it, clears the level log unless in-place mode is on,
  // and starts a new thread one step below normal priority.
  static void StartLevel(std::unique_ptr<CUpdateThread>& slot, LevelDialog& dialog,
                         const LevelSetup& setup, LevelState& state, TextSource& texts,
                         const CommandTable& commands);

  // The run loop; returns when the level is over. Called on the update
  // thread by StartLevel, or directly by tests.
  void Run();
  // Clears the running flag, sets the finished flag, posts the close request.
  void ExitInstance();

  // True once the thread function has returned (safe to join).
  [[nodiscard]] bool ThreadEnded() const { return ended_.load(); }
  // Joins an ended thread; false when it has not ended (the object must then
  // be kept alive and the thread detached).
  bool Join();
  void Detach();

  void SetDialog(LevelDialog* dialog) { dialog_ = dialog; }
  // Also gives the reporters a writer (opened with the first entry).
  void SetLogPath(std::string path);
  void SetControlFile(std::string path) { control_file_ = std::move(path); }
  void SetProgramDir(std::string dir) { program_dir_ = std::move(dir); }

  // CommandHost
  CommandContext& Context() override { return ctx_; }
  void ReportError(ErrorCode code, Param p1 = std::nullopt, Param p2 = std::nullopt,
                   Param p3 = std::nullopt, Param p4 = std::nullopt) override;
  void ReportStep(bool success, std::string_view text, ErrorCode code) override;
  [[nodiscard]] std::uint32_t ErrorCount() const override { return error_count_; }
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
  [[nodiscard]] std::int32_t Level() const override { return state_.level; }
  [[nodiscard]] bool ServerAutomation() const override { return state_.server_automation; }
  [[nodiscard]] std::string ControlFilePath() const override { return control_file_; }
  [[nodiscard]] std::string Message(std::uint32_t number) override { return texts_.Text(number); }
  [[nodiscard]] bool AskYesNo(std::string_view text) override;
  void RefreshProgress() override;
  void BringDialogToForeground() override;

 private:
  [[nodiscard]] bool LoadPointer();
  [[nodiscard]] ReadResult ReadCommand();
  void EndLevel();  // checkpoint gone, result, closing banner, ExitInstance
  void StopUnfinished();  // on a stop request: checkpoint kept, no banner
  void RemoveCheckpoint();
  void WriteLog(std::string_view text);
  void ThreadMain();

  LevelState& state_;
  TextSource& texts_;
  const CommandTable& commands_;
  LevelDialog* dialog_ = nullptr;
  std::string log_path_;
  std::string control_file_;
  ControlReader reader_{std::string()};  // remembers where the next line starts
  std::string program_dir_;
  std::string checkpoint_path_;

  CommandContext ctx_;
  CheckpointRecord checkpoint_;
  std::unique_ptr<CLogClass> log_;
  std::uint32_t error_count_ = 0;
  std::uint32_t file_counter_ = 0;

  os::Module pointer_module_;
  void* pointer_entry_ = nullptr;
  CDeltaCrc32 crc_;
  CIniClass ini_;
  CDynBuf payload_{kPayloadGrowStep};
  std::vector<std::uint8_t> copy_buffer_ = std::vector<std::uint8_t>(kCopyBufferSize);

  std::thread thread_;
  std::atomic<bool> ended_{false};
};

}  // namespace veupd
