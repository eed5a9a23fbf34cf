// Win32 time, thread priority and the user interface: real message boxes,
// debugger output, and the raw command line.
#include "platform/win32/win32_internal.h"

namespace veupd::os {

LocalTime Now() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void SleepMs(std::uint32_t ms) { ::Sleep(ms); }

void LowerCurrentThreadPriority() {
  (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);  // best effort
}

std::string CommandLineText(int /*argc*/, char** /*argv*/) {
  // The program name ends at its closing quote, or at the first blank.
  const char* p = ::GetCommandLineA();
  if (p == nullptr) return {};
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

void ShowMessage(std::string_view text, std::string_view caption) {
  const std::string t(text);
  const std::string c(caption);
  ::MessageBoxA(nullptr, t.c_str(), c.c_str(), MB_OK);
}

namespace {

thread_local HHOOK t_topmost_hook = nullptr;

// Puts the calling thread's box on top when it is activated, for systems
// whose message box leaves out MB_TOPMOST.
LRESULT CALLBACK MakeBoxTopmost(int code, WPARAM wparam, LPARAM lparam) {
  const auto window = reinterpret_cast<HWND>(wparam);
  if (code == HCBT_ACTIVATE && (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0) {
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

bool AskYesNo(std::string_view text, std::string_view caption) {
  const std::string t(text);
  const std::string c(caption);
  // Asked from the update thread while the progress dialog sits minimized:
  // a box owned by it would stay hidden, so the box stands on top instead.
  t_topmost_hook = ::SetWindowsHookExA(WH_CBT, &MakeBoxTopmost, nullptr, ::GetCurrentThreadId());
  const int answer = ::MessageBoxA(nullptr, t.c_str(), c.c_str(), MB_YESNO | MB_ICONQUESTION | MB_TOPMOST | MB_SETFOREGROUND);
  if (t_topmost_hook != nullptr) ::UnhookWindowsHookEx(t_topmost_hook);
  t_topmost_hook = nullptr;
  return answer == IDYES;
}

bool AskOkCancel(std::string_view text, std::string_view caption) {
  const std::string t(text);
  const std::string c(caption);
  return ::MessageBoxA(nullptr, t.c_str(), c.c_str(), MB_OKCANCEL | MB_ICONHAND) != IDCANCEL;
}

void EndProcessNow(int exit_code) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exit_code));
  ::ExitProcess(static_cast<UINT>(exit_code));  // only if the termination was refused
}

void DebugOutput(std::string_view text) {
  const std::string t(text);
  ::OutputDebugStringA(t.c_str());
}

std::uint16_t SystemLanguage() { return ::GetSystemDefaultLangID(); }

bool StderrIsTerminal() {
  const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_CHAR;
}

void WriteStderr(std::string_view text) {
  const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;  // a GUI program may have none
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD n = 0;
    if (!::WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0) return;
    done += n;
  }
}

}  // namespace veupd::os
