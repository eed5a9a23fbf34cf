// The run loop of one update level, its reporters and its checkpoint file.
// Update thread only.
#include "engine/update_thread.h"

#include <cstring>
#include <utility>

#include "engine/level_runner.h"
#include "engine/message_table.h"
#include "formats/text_format.h"
#include "platform/export.h"

namespace veupd {
namespace {

// The pointer component's entry.
using PointerEntry = int(VEUPD_STDCALL*)(const char* structure, const void*, const char* data,
                                            const char* index, const void*, const void*,
                                            const void*);

constexpr const char* kQuestionCaption = "VeUpd";
constexpr int kParamTotal = 4;

std::string TimeText(const os::LocalTime& t) {
  return FormatText("%02d.%02d.%d   %02d:%02d:%02d",
                    {std::int64_t{t.day}, std::int64_t{t.month}, std::int64_t{t.year},
                     std::int64_t{t.hour}, std::int64_t{t.minute}, std::int64_t{t.second}});
}

}  // namespace

std::string LevelLogPath(const LevelSetup& setup) {
  return setup.log_dir + (setup.log_name.empty() ? std::string(kDefaultLogName) : setup.log_name);
}

std::string CheckpointPath(const std::string& control_file) {
  const std::size_t sep = os::FindLastSeparator(control_file);
  const std::string dir = sep == std::string::npos ? std::string() : control_file.substr(0, sep + 1);
  return dir + kCheckpointName;
}

std::array<std::uint8_t, kCheckpointSize> EncodeCheckpoint(const CheckpointRecord& r) {
  std::array<std::uint8_t, kCheckpointSize> bytes{};
  const std::uint32_t fields[] = {r.line_count, r.line_index, r.phase, r.done_items};
  for (std::size_t f = 0; f < 4; ++f) {
    for (std::size_t b = 0; b < 4; ++b) {
      bytes[f * 4 + b] = static_cast<std::uint8_t>(fields[f] >> (8 * b));
    }
  }
  return bytes;
}

CUpdateThread::CUpdateThread(LevelRunner& runner) : runner_(runner), setup_(runner.setup_) {
  ctx_.upd_dir = setup_.upd_dirs;
}

void CUpdateThread::Run() {
  if (dialog_ == nullptr) return;
  runner_.running_ = true;
  error_count_ = 0;
  checkpoint_path_ = CheckpointPath(setup_.control_file);
  checkpoint_ = CheckpointRecord{};
  ctx_.line_count = 0;
  ctx_.line_index = 0;

  WriteLog(FormatText("***----- Starting Update Level %d -----***\r\n", {std::int64_t{Level()}}) +
           TimeText(os::Now()));
  if (!LoadPointer()) {
    ReportError(Err::kCannotLoadPointerDll, os::JoinPath(setup_.program_dir, kPointerDllName));
    SetResult(1);
    ExitInstance();
    return;
  }
  if (!StartLines()) {
    ReportError(Err::kCannotOpenUpdateFile, setup_.control_file);
    SetResult(error_count_);
    WriteClosingBanner();
    ExitInstance();
    return;
  }
  WriteCheckpoint();
  RefreshProgress();
  RunLines();
}

bool CUpdateThread::StartLines() {
  RemoveCheckpoint();
  reader_ = ControlReader(setup_.control_file);
  return reader_.CountLines(ctx_);  // the checkpoint takes the count when it is written
}

void CUpdateThread::RunLines() {
  StopSignal& stop = Stop();
  ReadResult next = ReadCommand();
  while (next == ReadResult::kOk) {
    // Checked with a line still to run: a stop during the last line lets the
    // level end in order.
    if (stop.Cause() == StopCause::kFromOutside) {
      StopUnfinished();
      return;
    }
    RunLine();
    if (stop.Cause() == StopCause::kBreakAfterError) break;
    next = ReadCommand();
  }
  EndLevel();
}

void CUpdateThread::RunLine() {
  WriteCheckpoint();
  checkpoint_.phase = 0;
  if (!(ctx_.skip_after_error && error_count_ != 0)) {
    file_counter_ = 0;
    (void)Dispatch(ctx_.opcode);
  }
  ++ctx_.line_index;
  checkpoint_.line_index = ctx_.line_index;
  WriteCheckpoint();
  RefreshProgress();
}

void CUpdateThread::EndLevel() {
  RemoveCheckpoint();
  SetResult(error_count_);
  WriteClosingBanner();
  ExitInstance();
}

void CUpdateThread::StopUnfinished() {
  // The checkpoint stays and no closing banner is written: both show that
  // the level was cut short, and where.
  runner_.unfinished_ = true;
  SetResult(error_count_ + 1);
  ExitInstance();
}

void CUpdateThread::EndOnInternalError(std::string_view what) {
  WriteLog(what.empty() ? std::string("Failed - internal error")
                        : "Failed - internal error: " + std::string(what));
  SetResult(error_count_ + 1);
  if (runner_.running_) ExitInstance();
}

void CUpdateThread::SetResult(std::uint32_t result) { runner_.result_ = result; }

void CUpdateThread::WriteClosingBanner() {
  WriteLog(TimeText(os::Now()) +
           FormatText("\r\n***----- Terminating Update Level %d -----***", {std::int64_t{Level()}}));
}

void CUpdateThread::ExitInstance() {
  runner_.stop_.Request(StopCause::kLevelEnded);
  runner_.running_ = false;
  runner_.finished_ = true;
  if (dialog_ != nullptr) dialog_->PostClose();
}

StopSignal& CUpdateThread::Stop() { return runner_.stop_; }
std::int32_t CUpdateThread::Level() const { return setup_.level; }
bool CUpdateThread::ServerAutomation() const { return setup_.server_automation; }
std::string CUpdateThread::ControlFilePath() const { return setup_.control_file; }
std::string CUpdateThread::Message(std::uint32_t number) { return runner_.texts_.Text(number); }

bool CUpdateThread::LoadPointer() {
  if (dialog_ == nullptr) return false;
  if (!pointer_module_.IsLoaded()) {
    if (!pointer_module_.Load(os::JoinPath(setup_.program_dir, kPointerDllName)).ok()) return false;
  }
  if (pointer_entry_ == nullptr) {
    pointer_entry_ = pointer_module_.Symbol(kPointerExport);
    if (pointer_entry_ == nullptr) {
      pointer_module_.Unload();
      return false;
    }
  }
  return true;
}

int CUpdateThread::CallPointer(const std::string& structure, const std::string& data,
                               const std::string& index) {
  if (pointer_entry_ == nullptr) return -1;  // never loaded: only outside a level
  PointerEntry entry = nullptr;
  static_assert(sizeof(entry) == sizeof(pointer_entry_));
  std::memcpy(&entry, &pointer_entry_, sizeof(entry));
  return entry(structure.c_str(), nullptr, data.c_str(), index.c_str(), nullptr, nullptr, nullptr);
}

ReadResult CUpdateThread::ReadCommand() {
  const ReadResult r = reader_.ReadCommand(ctx_, Level());
  if (r == ReadResult::kCannotOpen) ReportError(Err::kCannotOpenUpdateFile, setup_.control_file);
  return r;
}

ErrorCode CUpdateThread::Dispatch(std::int32_t opcode) {
  return runner_.commands_[static_cast<std::size_t>(CommandOf(opcode))](*this);
}

void CUpdateThread::ReportError(ErrorCode code, Param p1, Param p2, Param p3, Param p4) {
  ++error_count_;
  std::string entry = "Error : ";
  entry += ErrorMessage(code.code());
  entry += " (Line " + std::to_string(ctx_.line_index) + ", code " + std::to_string(code.code()) +
           ", subcode " + std::to_string(code.subcode()) + ")";
  const Param params[kParamTotal] = {p1, p2, p3, p4};
  for (int i = 0; i < kParamTotal; ++i) {
    if (!params[i]) continue;
    entry += "\r\n\tParameter " + std::to_string(i + 1) + " : ";
    entry += *params[i];
  }
  WriteLog(entry);
}

void CUpdateThread::ReportStep(bool success, std::string_view text, ErrorCode code) {
  if (ctx_.short_report) {
    if (success) return;
    WriteLog(code.code() != 0 ? "Failed - " + std::to_string(code.code()) : std::string("Failed"));
    return;
  }
  WriteLog(std::string(success ? "OK - " : "Failed - ") + std::string(text));
}

void CUpdateThread::WriteCheckpoint() {
  checkpoint_.line_count = ctx_.line_count;
  checkpoint_.line_index = ctx_.line_index;
  os::File file;
  // The record is rewritten over the last one rather than into a truncated
  // file: the file holds the same one record either way, and freeing and
  // allocating its block at every line costs a journal write on some file
  // systems, twice per control line.
  if (!file.Open(checkpoint_path_, os::OpenMode::kReadWriteCreate).ok()) return;
  const auto bytes = EncodeCheckpoint(checkpoint_);
  std::uint64_t length = 0;
  // A checkpoint that cannot be written is skipped; it only helps diagnosis.
  if (file.Write(bytes.data(), bytes.size()).ok() && file.Length(length).ok() && length > bytes.size()) {
    (void)file.SetLength(bytes.size());
  }
  (void)file.Close();
}

void CUpdateThread::RemoveCheckpoint() {
  if (os::Exists(checkpoint_path_)) (void)os::RemoveFile(checkpoint_path_);  // absent is fine
}

bool CUpdateThread::AskYesNo(std::string_view text) { return os::AskYesNo(text, kQuestionCaption); }

void CUpdateThread::RefreshProgress() {
  if (dialog_ != nullptr) {
    dialog_->RefreshProgress(ctx_.line_count, ctx_.line_index, checkpoint_.done_items);
  }
}

void CUpdateThread::BringDialogToForeground() {
  if (dialog_ != nullptr) dialog_->BringToForeground();
}

void CUpdateThread::WriteLog(std::string_view text) { runner_.log_.Write(text); }

}  // namespace veupd
