// Helpers shared by the Win32 implementation files only; brings in the SDK.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace veupd::os::win32 {

// The one translation of Win32 error codes into the layer's result kinds.
inline OsResult FromWin32Error(DWORD err) {
  switch (err) {
    case ERROR_SUCCESS: return OsResult::Ok();
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_MOD_NOT_FOUND:
    case ERROR_NO_MORE_FILES: return OsResult::Fail(OsErr::kNotFound, static_cast<int>(err));
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return OsResult::Fail(OsErr::kAccessDenied, static_cast<int>(err));
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_DIR_NOT_EMPTY: return OsResult::Fail(OsErr::kExists, static_cast<int>(err));
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return OsResult::Fail(OsErr::kSharing, static_cast<int>(err));
    default: return OsResult::Fail(OsErr::kOther, static_cast<int>(err));
  }
}

inline OsResult LastError() { return FromWin32Error(::GetLastError()); }

// True when a test's fault plan fails this call; `failed` then holds the
// error the system would give. For a write, *size becomes the bytes to write
// before failing.
inline bool Injected(fault::Call call, OsResult& failed, std::size_t* size = nullptr) {
  if (!fault::internal::armed.load(std::memory_order_relaxed)) [[likely]] return false;
  fault::Failure failure{};
  if (!fault::internal::Take(call, failure, size)) return false;
  switch (failure) {
    case fault::Failure::kIo: failed = FromWin32Error(ERROR_WRITE_FAULT); break;
    case fault::Failure::kDiskFull: failed = FromWin32Error(ERROR_DISK_FULL); break;
    case fault::Failure::kAccessDenied: failed = FromWin32Error(ERROR_ACCESS_DENIED); break;
    case fault::Failure::kSharing: failed = FromWin32Error(ERROR_SHARING_VIOLATION); break;
  }
  return true;
}

// Windows refuses to write a read-only file, but Wine running as root lets
// it through; asking first gives the same answer on both.
inline bool IsReadOnlyFile(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace veupd::os::win32
