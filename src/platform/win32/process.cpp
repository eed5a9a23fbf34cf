// Win32 processes and modules: CreateProcessA in a new process group without
// inherited handles; LoadLibraryA and GetProcAddress.
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
  impl_.reset();
  if (SplitCommandLine(command_line).empty()) return FromWin32Error(ERROR_FILE_NOT_FOUND);
  std::string text = command_line;  // CreateProcessA may write into it
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof(si));
  si.cb = sizeof(si);
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

void Module::Unload() {
  if (handle_ != nullptr) {
    ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
  }
}

}  // namespace veupd::os
