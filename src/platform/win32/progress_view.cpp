// The Win32 progress view: the modal dialog of resource 102 with plain
// Win32 (no framework). The dialog stays in the background, cannot be
// closed by the user, and starts the level once its modal loop runs.
// Main thread, except the control setters and PostCloseRequest.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <string>

#include "platform/progress_view.h"

namespace veupd::os {
namespace {

constexpr int kTitleId = 1001;
constexpr int kProgressId = 1000;
constexpr int kStatusId = 1002;
constexpr int kCounterId = 1003;
// Posted to itself from WM_INITDIALOG: handled when the modal loop first
// runs, which stands in for the framework's idle notification.
constexpr UINT kFirstIdleMessage = WM_APP + 1;
constexpr UINT kSystemCommandMask = 0xFFF0;
constexpr UINT_PTR kKeepInBackgroundTimer = 1;
constexpr UINT kKeepInBackgroundMs = 50;

// The scaling part of the skin registers its two messages at start-up.
struct ScaleMessages {
  UINT set_font = RegisterWindowMessageA("CWSMSG_SET_FONT");
  UINT set_font_size = RegisterWindowMessageA("CWSMSG_SET_FONTSIZE");
};

class Win32ProgressView final : public ProgressView {
 public:
  Win32ProgressView() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    minimized_icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIconDefault));
  }

  void SetRightToLeftLayout(bool rtl) override { SetProcessDefaultLayout(rtl ? LAYOUT_RTL : 0); }

  void BringToForeground(std::uintptr_t window) override {
    if (window != 0) SetForegroundWindow(reinterpret_cast<HWND>(window));
  }

  int RunModal(ProgressViewEvents& events) override {
    events_ = &events;
    const INT_PTR r = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kProgressDialogId), nullptr,
                                      &Win32ProgressView::DialogProc, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    events_ = nullptr;
    return static_cast<int>(r);
  }

  void EndModal(int result) override {
    if (window_icon_ != nullptr) DestroyIcon(window_icon_);
    window_icon_ = nullptr;
    EndDialog(hwnd_, result);
  }

  void PostCloseRequest() override {
    if (HWND hwnd = hwnd_.load(); hwnd != nullptr) PostMessageA(hwnd, WM_CLOSE, 0, 0);
  }

  // Sent messages are answered while waiting: the update thread's control
  // changes are synchronous and would otherwise wait for the deadline.
  void WaitAnsweringControls(std::uint32_t ms) override {
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < ms; waited = GetTickCount() - start) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_SENDMESSAGE);
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // answers them
    }
  }

  std::uintptr_t WindowHandle() const override { return reinterpret_cast<std::uintptr_t>(hwnd_.load()); }

  void SetIcon(int resource_id) override {
    window_icon_ = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource_id),
                                                 IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(window_icon_));
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(window_icon_));
  }

  void SetCaption(std::string_view text) override { SetWindowTextA(hwnd_, std::string(text).c_str()); }

  void PlaceInBackground() override {
    SetWindowPos(hwnd_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    ShowWindow(hwnd_, SW_SHOWMINNOACTIVE);
    SetTimer(hwnd_, kKeepInBackgroundTimer, kKeepInBackgroundMs, nullptr);
  }

  // SetDlgItemText and SendMessage wait until the dialog's thread has
  // handled the change: the update thread changes controls synchronously.
  void SetTitleLine(std::string_view text) override { SetText(kTitleId, text); }
  void SetStatusLine(std::string_view text) override { SetText(kStatusId, text); }
  void SetCounterText(std::string_view text) override { SetText(kCounterId, text); }
  void SetProgressPos(int percent) override {
    if (HWND hwnd = hwnd_.load(); hwnd != nullptr) {
      SendDlgItemMessageA(hwnd, kProgressId, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }
  }

 private:
  void SetText(int id, std::string_view text) {
    if (HWND hwnd = hwnd_.load(); hwnd != nullptr) SetDlgItemTextA(hwnd, id, std::string(text).c_str());
  }

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    auto* self = reinterpret_cast<Win32ProgressView*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    return self->Handle(hwnd, msg, wparam, lparam);
  }

  INT_PTR Handle(HWND hwnd, UINT msg, WPARAM wparam, LPARAM /*lparam*/) {
    switch (msg) {
      case WM_INITDIALOG:
        hwnd_ = hwnd;
        events_->OnInitDialog();
        PostMessageA(hwnd, kFirstIdleMessage, 0, 0);
        return FALSE;  // the dialog must not take the focus
      case kFirstIdleMessage:
        events_->OnIdle();
        return TRUE;
      case WM_TIMER:
        return KeepInBackground(hwnd, wparam);
      case WM_CLOSE:
        events_->OnCloseRequest();
        return TRUE;
      case WM_QUERYENDSESSION:
        return Answer(hwnd, TRUE);  // the session may end; WM_ENDSESSION stops the level
      case WM_ENDSESSION:
        if (wparam != FALSE) events_->OnSessionEnd();
        return Answer(hwnd, 0);
      case WM_SYSCOMMAND:
        // Alt+F4 and the system menu's close arrive here; the user cannot
        // close the dialog.
        return (wparam & kSystemCommandMask) == SC_CLOSE ? Answer(hwnd, 0) : FALSE;
      case WM_COMMAND:
        // Enter (IDOK) and Escape (IDCANCEL) do nothing.
        return LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL;
      case WM_HELP:  // F1
        return TRUE;
      case WM_QUERYDRAGICON:
        return Answer(hwnd, reinterpret_cast<LONG_PTR>(minimized_icon_));
      case WM_PAINT:
        return IsIconic(hwnd) ? PaintMinimized(hwnd) : FALSE;
      default:
        return FALSE;
    }
  }

  // A dialog procedure's answer travels in DWLP_MSGRESULT.
  static INT_PTR Answer(HWND hwnd, LONG_PTR result) {
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
  }

  // Some modal loops (Wine's) show the dialog normally the first time their
  // queue runs empty, after the initialisation: minimize again.
  static INT_PTR KeepInBackground(HWND hwnd, WPARAM timer) {
    if (timer != kKeepInBackgroundTimer) return FALSE;
    KillTimer(hwnd, kKeepInBackgroundTimer);
    if (!IsIconic(hwnd)) ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
    return TRUE;
  }

  INT_PTR PaintMinimized(HWND hwnd) const {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rect;
    GetClientRect(hwnd, &rect);
    const int x = (rect.right - rect.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.bottom - rect.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, minimized_icon_);
    EndPaint(hwnd, &ps);
    return TRUE;
  }

  ScaleMessages scale_messages_;
  ProgressViewEvents* events_ = nullptr;
  std::atomic<HWND> hwnd_{nullptr};
  HICON window_icon_ = nullptr;
  HICON minimized_icon_ = nullptr;
};

}  // namespace

std::unique_ptr<ProgressView> CreateProgressView() { return std::make_unique<Win32ProgressView>(); }

}  // namespace veupd::os
