// Win32 paths, directory search and whole-file operations. The search is the
// system's own; its results are sorted by name ignoring case so that both
// builds deliver them in the same order.
#include <algorithm>

#include "base/ascii.h"
#include "platform/platform_internal.h"
#include "platform/win32/win32_internal.h"

namespace veupd::os {

using fault::Call;
using win32::FromWin32Error;
using win32::Injected;
using win32::LastError;

namespace {

constexpr const char* kCaseRenameSuffix = ".~vcase";

DirEntry EntryFromFind(const WIN32_FIND_DATAA& data) {
  DirEntry e;
  e.name = data.cFileName;
  e.is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  e.read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  e.size = e.is_dir ? 0 : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return e;
}

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  ~FindHandle() {
    if (h_ != INVALID_HANDLE_VALUE) ::FindClose(h_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  [[nodiscard]] HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace

// ---------------------------------------------------------------- paths

const char kNativeSeparator = '\\';

bool IsSeparator(char c) { return c == '\\'; }

std::string ToNative(std::string_view path) { return std::string(path); }

std::string ResolvePath(std::string_view path) { return ToNative(path); }

std::string ProgramDirectory() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return ".";
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  const std::size_t sep = buf.find_last_of("\\/");
  return sep == std::string::npos ? std::string(".") : buf.substr(0, sep);
}

// ---------------------------------------------------------------- search

OsResult DirSearch::Start(const std::string& pattern) {
  impl_.reset();
  if (pattern.empty() || pattern.back() == '\\' || pattern.back() == '/') {
    return FromWin32Error(ERROR_FILE_NOT_FOUND);
  }
  WIN32_FIND_DATAA data;
  FindHandle find(::FindFirstFileA(pattern.c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) return LastError();
  auto impl = std::make_unique<Impl>();
  do {
    impl->entries.push_back(EntryFromFind(data));
  } while (::FindNextFileA(find.get(), &data));
  internal::SortByName(impl->entries);
  impl_ = std::move(impl);
  return OsResult::Ok();
}

// ---------------------------------------------------------------- queries

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

OsResult GetInfo(const std::string& path, DirEntry& info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return LastError();
  info.is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  info.size = info.is_dir ? 0 : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // The name as stored on disk, which may differ in case from the one asked for.
  std::string trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
  const std::size_t sep = trimmed.find_last_of("\\/:");
  info.name = sep == std::string::npos ? trimmed : trimmed.substr(sep + 1);
  if (trimmed.find_first_of("*?") == std::string::npos) {
    WIN32_FIND_DATAA found;
    FindHandle find(::FindFirstFileA(trimmed.c_str(), &found));
    if (find.get() != INVALID_HANDLE_VALUE) info.name = found.cFileName;
  }
  return OsResult::Ok();
}

OsResult GetReadOnly(const std::string& path, bool& read_only) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return LastError();
  read_only = (attr & FILE_ATTRIBUTE_READONLY) != 0;
  return OsResult::Ok();
}

OsResult SetReadOnly(const std::string& path, bool read_only) {
  if (OsResult failed; Injected(Call::kSetAttributes, failed)) return failed;
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return LastError();
  DWORD changed = read_only ? (attr | FILE_ATTRIBUTE_READONLY) : (attr & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // A plain file without other attributes is "normal"; SetFileAttributes
  // wants that flag alone or none.
  changed &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  if (changed == 0) changed = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileAttributesA(path.c_str(), changed)) return LastError();
  return OsResult::Ok();
}

// ---------------------------------------------------------------- changes

OsResult CopyFileOver(const std::string& from, const std::string& to, bool overwrite) {
  if (OsResult failed; Injected(Call::kCopy, failed)) return failed;
  if (overwrite && win32::IsReadOnlyFile(to)) return FromWin32Error(ERROR_ACCESS_DENIED);
  if (!::CopyFileA(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE)) return LastError();
  return OsResult::Ok();
}

OsResult MoveNoReplace(const std::string& from, const std::string& to) {
  if (OsResult failed; Injected(Call::kMove, failed)) return failed;
  if (from != to && EqualsNoCase(from, to)) {
    // A change of case only. Wine takes the target for the source itself
    // and keeps the old name, so the rename goes through a temporary name.
    const std::string temp = from + kCaseRenameSuffix;
    if (!::MoveFileExA(from.c_str(), temp.c_str(), 0)) return LastError();
    if (!::MoveFileExA(temp.c_str(), to.c_str(), 0)) {
      const OsResult failed = LastError();
      (void)::MoveFileExA(temp.c_str(), from.c_str(), 0);  // put it back; the first failure is the one to report
      return failed;
    }
    return OsResult::Ok();
  }
  if (!::MoveFileExA(from.c_str(), to.c_str(), 0)) return LastError();
  return OsResult::Ok();
}

OsResult CopyFileToNewName(const std::string& from, const std::string& to) {
  return CopyFileOver(from, to, /*overwrite=*/false);
}

OsResult MoveToNewName(const std::string& from, const std::string& to) {
  if (OsResult failed; Injected(Call::kMove, failed)) return failed;
  if (!::MoveFileExA(from.c_str(), to.c_str(), 0)) return LastError();
  return OsResult::Ok();
}

OsResult MoveReplace(const std::string& from, const std::string& to) {
  if (OsResult failed; Injected(Call::kMove, failed)) return failed;
  if (win32::IsReadOnlyFile(to)) return FromWin32Error(ERROR_ACCESS_DENIED);
  if (!::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return LastError();
  }
  return OsResult::Ok();
}

OsResult RemoveFile(const std::string& path) {
  if (OsResult failed; Injected(Call::kRemove, failed)) return failed;
  if (!::DeleteFileA(path.c_str())) return LastError();
  return OsResult::Ok();
}

OsResult MakeDirectory(const std::string& path) {
  if (OsResult failed; Injected(Call::kMakeDirectory, failed)) return failed;
  if (!::CreateDirectoryA(path.c_str(), nullptr)) return LastError();
  return OsResult::Ok();
}

OsResult RemoveFolder(const std::string& path) {
  if (OsResult failed; Injected(Call::kRemove, failed)) return failed;
  if (!::RemoveDirectoryA(path.c_str())) return LastError();
  return OsResult::Ok();
}

}  // namespace veupd::os
