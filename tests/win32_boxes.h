// Windows only: finds a message box (window class "#32770") of any process
// on the desktop, reads what it shows and presses one of its buttons, the
// way a user would. The updater's progress dialog has the same class and is
// told apart by its progress bar (control 1000).
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace veupd::test {

struct SeenBox {
  HWND window = nullptr;
  std::string caption;
  std::string text;  // the texts of its static controls, joined by '\n'
  std::vector<int> buttons;  // ids of IDOK .. IDNO that it has
  HICON icon = nullptr;      // the icon it shows, if any
  bool topmost = false;
  HWND owner = nullptr;
};

namespace boxes_detail {

constexpr int kProgressBarId = 1000;

inline BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* box = reinterpret_cast<SeenBox*>(param);
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof(cls));
  if (lstrcmpiA(cls, "Static") != 0) return TRUE;
  if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    box->icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    return TRUE;
  }
  char text[2048] = {};
  GetWindowTextA(child, text, sizeof(text));
  if (text[0] != '\0') {
    if (!box->text.empty()) box->text += '\n';
    box->text += text;
  }
  return TRUE;
}

inline BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<HWND*>(param);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof(cls));
  if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  if (GetDlgItem(window, kProgressBarId) != nullptr) return TRUE;  // the progress dialog
  *found = window;
  return FALSE;
}

inline BOOL CALLBACK FindProgressDialog(HWND window, LPARAM param) {
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof(cls));
  if (lstrcmpA(cls, "#32770") != 0 || GetDlgItem(window, kProgressBarId) == nullptr) return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

}  // namespace boxes_detail

// The updater's progress dialog, once it shows; null after timeout_ms.
inline HWND WaitForProgressDialog(unsigned timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    HWND found = nullptr;
    EnumWindows(&boxes_detail::FindProgressDialog, reinterpret_cast<LPARAM>(&found));
    if (found != nullptr) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return nullptr;
}

// Reads a box that is showing.
inline SeenBox ReadBox(HWND window) {
  SeenBox box;
  box.window = window;
  char caption[512] = {};
  GetWindowTextA(window, caption, sizeof(caption));
  box.caption = caption;
  EnumChildWindows(window, &boxes_detail::CollectChild, reinterpret_cast<LPARAM>(&box));
  for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
    if (GetDlgItem(window, id) != nullptr) box.buttons.push_back(id);
  }
  box.topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  box.owner = GetWindow(window, GW_OWNER);
  return box;
}

// Waits up to timeout_ms for a message box, reads it and presses `button`.
inline std::optional<SeenBox> AnswerBox(int button, unsigned timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    HWND found = nullptr;
    EnumWindows(&boxes_detail::FindBox, reinterpret_cast<LPARAM>(&found));
    if (found != nullptr && GetDlgItem(found, button) != nullptr) {
      SeenBox box = ReadBox(found);
      PostMessageA(found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(found, button)));
      return box;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::nullopt;
}

// True when no message box shows for `ms` milliseconds.
inline bool NoBoxFor(unsigned ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    HWND found = nullptr;
    EnumWindows(&boxes_detail::FindBox, reinterpret_cast<LPARAM>(&found));
    if (found != nullptr) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace veupd::test

#endif  // _WIN32
