// Win32 processes and modules: CreateProcessA in a new process group without
// inherited handles; LoadLibraryA and GetProcAddress; calls into modules
// safe for both 32-bit calling conventions.
#include <algorithm>
#include <cstring>

#include "platform/win32/win32_internal.h"

namespace veupd::os {

using win32::FromWin32Error;
using win32::LastError;

namespace {

constexpr std::uint32_t kPollMs = 100;

}  // namespace

// ---------------------------------------------------------------- processes

struct Process::Impl {
  HANDLE process = nullptr;
  bool ended = false;
  std::uint32_t exit_code = 0;
  ~Impl() {
    if (process != nullptr) ::CloseHandle(process);
  }
};

Process::Process() = default;
Process::~Process() = default;
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;

OsResult Process::Start(const std::string& command_line, const std::string& work_dir) {
  return Start(command_line, work_dir, ShowCommand::kSystemDefault);
}

OsResult Process::Start(const std::string& command_line, const std::string& work_dir, ShowCommand show) {
  impl_.reset();
  if (SplitCommandLine(command_line).empty()) return FromWin32Error(ERROR_FILE_NOT_FOUND);
  std::string text = command_line;  // CreateProcessA may write into it
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
  if (show != ShowCommand::kSystemDefault) {
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(show);
  }
  PROCESS_INFORMATION pi;
  std::memset(&pi, 0, sizeof(pi));
  if (!::CreateProcessA(nullptr, text.data(), nullptr, nullptr, /*bInheritHandles=*/FALSE, CREATE_NEW_PROCESS_GROUP,
                        nullptr, work_dir.empty() ? nullptr : work_dir.c_str(), &si, &pi)) {
    return LastError();
  }
  ::CloseHandle(pi.hThread);
  impl_ = std::make_unique<Impl>();
  impl_->process = pi.hProcess;
  return OsResult::Ok();
}

bool Process::Wait(std::uint32_t timeout_ms) {
  if (!impl_) return false;
  std::uint32_t waited = 0;
  while (!impl_->ended) {
    const std::uint32_t step = timeout_ms == INFINITE ? kPollMs : std::min(kPollMs, timeout_ms - waited);
    const DWORD r = ::WaitForSingleObject(impl_->process, step);
    if (r == WAIT_OBJECT_0) {
      DWORD code = 0;
      if (!::GetExitCodeProcess(impl_->process, &code)) return false;
      impl_->exit_code = code;
      impl_->ended = true;
      break;
    }
    if (r != WAIT_TIMEOUT) return false;
    waited += step;
    if (timeout_ms != INFINITE && waited >= timeout_ms) return false;
  }
  return true;
}

std::uint32_t Process::ExitCode() const { return impl_ ? impl_->exit_code : 0; }

Process::WaitResult Process::WaitHandlingMessages(std::uint32_t timeout_ms) {
  if (!impl_) return WaitResult::kFailed;
  const ULONGLONG start = ::GetTickCount64();
  while (!impl_->ended) {
    // Messages first: a window of this thread (a message box owner, a DDE
    // partner of the started program) must not wait for the program's end.
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    const ULONGLONG waited = ::GetTickCount64() - start;
    if (timeout_ms != INFINITE && waited >= timeout_ms) return WaitResult::kTimeout;
    const DWORD step = timeout_ms == INFINITE ? INFINITE : static_cast<DWORD>(timeout_ms - waited);
    const DWORD r = ::MsgWaitForMultipleObjects(1, &impl_->process, FALSE, step, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) {
      DWORD code = 0;
      if (!::GetExitCodeProcess(impl_->process, &code)) return WaitResult::kFailed;
      impl_->exit_code = code;
      impl_->ended = true;
    } else if (r != WAIT_OBJECT_0 + 1 && r != WAIT_TIMEOUT) {
      return WaitResult::kFailed;
    }
  }
  return WaitResult::kEnded;
}

// ---------------------------------------------------------------- modules

OsResult Module::Load(const std::string& path) {
  Unload();
  // No "bad image" box: a broken module is a failed load, not a question.
  const UINT old_mode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryA(path.c_str());
  const DWORD err = ::GetLastError();
  ::SetErrorMode(old_mode);
  if (module == nullptr) return FromWin32Error(err);
  handle_ = reinterpret_cast<void*>(module);
  return OsResult::Ok();
}

bool Module::IsLoaded() const { return handle_ != nullptr; }

void* Module::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  const FARPROC proc = ::GetProcAddress(static_cast<HMODULE>(handle_), name);
  void* out = nullptr;
  static_assert(sizeof(out) == sizeof(proc));
  std::memcpy(&out, &proc, sizeof(out));
  return out;
}

#if defined(__i386__)
// int veupd_call_text_function(void* function, const char* text), cdecl. The
// frame pointer holds the caller's stack across the call, so a callee that
// removes its argument (stdcall) and one that leaves it (cdecl) both return
// to the same stack.
extern "C" int veupd_call_text_function(void* function, const char* text);
__asm__(
    ".text\n"
    ".globl _veupd_call_text_function\n"
    ".def _veupd_call_text_function; .scl 2; .type 32; .endef\n"
    "_veupd_call_text_function:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl 12(%ebp)\n"
    "  call *8(%ebp)\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

int Module::CallTextFunction(void* function, const char* text) {
#if defined(__i386__)
  return veupd_call_text_function(function, text);
#elif defined(_M_IX86)
  int result = 0;
  __asm {
    mov ebx, esp
    push text
    call function
    mov esp, ebx
    mov result, eax
  }
  return result;
#else
  // One calling convention on 64-bit Windows.
  using Fn = int (*)(const char*);
  Fn fn = nullptr;
  static_assert(sizeof(fn) == sizeof(function));
  std::memcpy(&fn, &function, sizeof(fn));
  return fn(text);
#endif
}

void Module::Unload() {
  if (handle_ != nullptr) {
    ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
  }
}

}  // namespace veupd::os
