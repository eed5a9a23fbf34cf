// CVeUpdateDlg: the progress dialog's logic, independent of the view that
// shows it. It starts the level runner when the modal loop is first idle,
// turns the update thread's counts into bar and counter, and closes once the
// level is over. Events run on the main thread; the refresh on the update
// thread. One dialog per program run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/level_runner.h"
#include "platform/progress_view.h"

namespace veupd {

// Dictionary texts the dialog shows.
constexpr std::uint32_t kTitleWordText = 118;
constexpr std::uint32_t kStatusText = 3977;
// The brand code of the second product; compared ignoring case.
constexpr std::string_view kSecondBrandCode = "nr";
constexpr std::string_view kSecondBrandCaption = "NOR2 Update";

// The brand's display name, or the code itself when it has none.
[[nodiscard]] std::string BrandDisplayName(std::string_view brand_code);
[[nodiscard]] bool IsSecondBrand(std::string_view brand_code);
// Decimal with '.' after the last three and the last six digits only
// (1234567890 -> "1234.567.890").
[[nodiscard]] std::string FormatCounter(std::uint32_t value);
// L * 100 / N in unsigned 32-bit arithmetic, at most 100; N must not be 0.
[[nodiscard]] std::uint32_t PercentDone(std::uint32_t line_index, std::uint32_t line_count);

struct DialogParams {
  std::string brand_code;
  std::int32_t level = 1;
  std::uintptr_t caller_window = 0;
};

class CVeUpdateDlg final : public os::ProgressViewEvents, public LevelDialog {
 public:
  // How long the close waits for the thread to return: a first wait and
  // 50 polls of 100 ms.
  static constexpr std::uint32_t kLevelEndBoundMs = 100 + 50 * 100;
  static constexpr int kModalDone = 1;

  CVeUpdateDlg(os::ProgressView& view, TextSource& texts, LevelRunner& runner, DialogParams params);
  CVeUpdateDlg(const CVeUpdateDlg&) = delete;
  CVeUpdateDlg& operator=(const CVeUpdateDlg&) = delete;

  // Runs the dialog modally; the level runs meanwhile.
  int DoModal();
  [[nodiscard]] bool Succeeded() const { return success_; }
  // True once the level has been started (the first idle notification).
  [[nodiscard]] bool LevelStarted() const { return runner_.Started(); }

  // os::ProgressViewEvents (main thread)
  void OnInitDialog() override;
  void OnIdle() override;
  void OnCloseRequest() override;
  void OnSessionEnd() override;

  // LevelDialog (update thread)
  void RefreshProgress(std::uint32_t line_count, std::uint32_t line_index,
                       std::uint32_t done_items) override;
  void PostClose() override { view_.PostCloseRequest(); }
  void BringToForeground() override { view_.BringToForeground(view_.WindowHandle()); }

 private:
  os::ProgressView& view_;
  TextSource& texts_;
  LevelRunner& runner_;
  DialogParams params_;
  bool success_ = false;
  // Remembered display state; touched only by the refresh (update thread).
  std::uint32_t shown_percent_ = 0;
  std::uint32_t shown_counter_ = 0;
};

}  // namespace veupd
