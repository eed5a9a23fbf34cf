// The progress dialog's view: what the portable dialog logic (app/) needs
// from a window (win32/, its dialog resource in skin/) or a terminal line
// (posix/). The
// view runs the modal loop on the main thread and calls the events back.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace veupd::os {

// Resource numbers of the dialog template and its icons.
constexpr int kProgressDialogId = 102;
constexpr int kIconDefault = 129;
constexpr int kIconSecondBrand = 131;

class ProgressViewEvents {
 public:
  virtual ~ProgressViewEvents() = default;
  // The window exists (controls hold their resource texts); main thread.
  virtual void OnInitDialog() = 0;
  // The modal loop has nothing to do; may come more than once; main thread.
  virtual void OnIdle() = 0;
  // A close request arrived (posted by PostCloseRequest, or sent from
  // outside, e.g. by ending the task); main thread. The handler ends the loop
  // with EndModal once the level is over.
  virtual void OnCloseRequest() = 0;
  // The session ends: the process is ended once this returns; main thread.
  virtual void OnSessionEnd() {}
};

class ProgressView {
 public:
  virtual ~ProgressView() = default;

  // Process-wide switch for every dialog created afterwards.
  virtual void SetRightToLeftLayout(bool rtl) = 0;
  // Brings a window given by its handle number to the foreground (no effect
  // on POSIX or for 0).
  virtual void BringToForeground(std::uintptr_t window) = 0;

  // Creates the window and runs its modal loop until EndModal; returns the
  // value given to EndModal. Main thread.
  virtual int RunModal(ProgressViewEvents& events) = 0;
  virtual void EndModal(int result) = 0;
  // Any thread; never waits for the main thread.
  virtual void PostCloseRequest() = 0;
  // Waits ms milliseconds on the main thread while still answering the
  // update thread's synchronous control changes.
  virtual void WaitAnsweringControls(std::uint32_t ms) { SleepMs(ms); }
  // The dialog's own window handle number while it exists, else 0.
  [[nodiscard]] virtual std::uintptr_t WindowHandle() const { return 0; }

  // Window set-up, main thread inside OnInitDialog.
  virtual void SetIcon(int resource_id) = 0;
  virtual void SetCaption(std::string_view text) = 0;
  // Top-left corner, bottom of the window order, minimized, not activated.
  virtual void PlaceInBackground() = 0;

  // Controls; any thread, synchronous (the calling thread waits until the
  // control shows the change).
  virtual void SetTitleLine(std::string_view text) = 0;
  virtual void SetStatusLine(std::string_view text) = 0;
  virtual void SetCounterText(std::string_view text) = 0;
  virtual void SetProgressPos(int percent) = 0;
};

// The view of this system: the Win32 dialog (resource 102) or the terminal
// progress line (drawn only when standard error is a terminal).
[[nodiscard]] std::unique_ptr<ProgressView> CreateProgressView();

}  // namespace veupd::os
