// Windows only: finds a dialog (window class "#32770") of any process on the
// desktop, reads what it shows and presses its buttons, the way a user would.
// The updater's progress dialog is told apart from message boxes by its
// progress bar (control 1000).
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
  std::string text;          // the texts of its static controls, joined by '\n'
  std::vector<int> buttons;  // ids of IDOK .. IDNO that it has
  HICON icon = nullptr;      // the icon it shows, if any
  bool topmost = false;
};

namespace boxes_detail {

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
  if (text[0] != '\0') box->text += (box->text.empty() ? "" : "\n") + std::string(text);
  return TRUE;
}

}  // namespace boxes_detail

// Polls every 20 ms until done() holds (true) or timeout_ms have passed.
template <class Done>
bool WaitFor(Done done, unsigned timeout_ms = 30000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The progress dialog (or else a visible message box) now; null when none.
inline HWND FindDialog(bool progress) {
  for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;) {
    if ((GetDlgItem(w, 1000) != nullptr) == progress && (progress || IsWindowVisible(w))) return w;
  }
  return nullptr;
}

inline SeenBox ReadBox(HWND window) {
  SeenBox box;
  EnumChildWindows(window, &boxes_detail::CollectChild, reinterpret_cast<LPARAM>(&box));
  for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
    if (GetDlgItem(window, id) != nullptr) box.buttons.push_back(id);
  }
  box.topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  return box;
}

inline void PressButton(HWND window, int button) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
}

// Waits up to timeout_ms for a message box with `button`, reads it and
// presses the button.
inline std::optional<SeenBox> AnswerBox(int button, unsigned timeout_ms) {
  HWND box = nullptr;
  const auto shows = [&] { return (box = FindDialog(false)) != nullptr && GetDlgItem(box, button) != nullptr; };
  if (!WaitFor(shows, timeout_ms)) return std::nullopt;
  SeenBox seen = ReadBox(box);
  PressButton(box, button);
  return seen;
}

}  // namespace veupd::test

#endif  // _WIN32
