// Win32 file handles: the open modes map directly onto CreateFileA's access,
// share and creation arguments; handles are never inheritable.
#include "platform/win32/win32_internal.h"

namespace veupd::os {

using fault::Call;
using win32::FromWin32Error;
using win32::Injected;
using win32::LastError;

namespace {

constexpr DWORD kMaxChunk = 1u << 30;

}  // namespace

struct File::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

File::File() = default;
File::~File() { (void)Close(); }  // errors are for callers that call Close()
File::File(File&& other) noexcept = default;
File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    (void)Close();
    impl_ = std::move(other.impl_);
  }
  return *this;
}

OsResult File::Open(const std::string& path, OpenMode mode) {
  (void)Close();
  if (OsResult failed; Injected(Call::kOpen, failed)) return failed;
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD share = 0;
  DWORD creation = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::kRead:
      access = GENERIC_READ;
      share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
      break;
    case OpenMode::kReadDenyWrite:
      access = GENERIC_READ;
      share = FILE_SHARE_READ;
      break;
    case OpenMode::kReadWriteCreate: creation = OPEN_ALWAYS; break;
    case OpenMode::kReadWriteShareRead:
      creation = OPEN_ALWAYS;
      share = FILE_SHARE_READ;
      break;
    case OpenMode::kReadWriteExisting: break;
    case OpenMode::kCreateTruncate: creation = CREATE_ALWAYS; break;
    case OpenMode::kCreateNew: creation = CREATE_NEW; break;
  }
  if ((access & GENERIC_WRITE) != 0 && win32::IsReadOnlyFile(path)) return FromWin32Error(ERROR_ACCESS_DENIED);
  const HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  impl_ = std::make_unique<Impl>();
  impl_->handle = h;
  return OsResult::Ok();
}

bool File::IsOpen() const { return impl_ != nullptr; }

OsResult File::Read(void* data, std::size_t size, std::size_t& got) {
  got = 0;
  if (!impl_) return FromWin32Error(ERROR_INVALID_HANDLE);
  if (OsResult failed; Injected(Call::kRead, failed)) return failed;
  auto* out = static_cast<char*>(data);
  while (got < size) {
    const DWORD want = static_cast<DWORD>(size - got < kMaxChunk ? size - got : kMaxChunk);
    DWORD n = 0;
    if (!::ReadFile(impl_->handle, out + got, want, &n, nullptr)) return LastError();
    if (n == 0) break;
    got += n;
  }
  return OsResult::Ok();
}

OsResult File::Write(const void* data, std::size_t size) {
  if (!impl_) return FromWin32Error(ERROR_INVALID_HANDLE);
  OsResult failed;
  const bool fails = Injected(Call::kWrite, failed, &size);
  const auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const DWORD want = static_cast<DWORD>(size - done < kMaxChunk ? size - done : kMaxChunk);
    DWORD n = 0;
    if (!::WriteFile(impl_->handle, in + done, want, &n, nullptr)) return LastError();
    if (n == 0) return FromWin32Error(ERROR_WRITE_FAULT);
    done += n;
  }
  return fails ? failed : OsResult::Ok();
}

OsResult File::Seek(std::int64_t offset, SeekFrom from, std::uint64_t* new_pos) {
  if (!impl_) return FromWin32Error(ERROR_INVALID_HANDLE);
  const DWORD method = from == SeekFrom::kBegin ? FILE_BEGIN : from == SeekFrom::kCurrent ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER pos;
  if (!::SetFilePointerEx(impl_->handle, distance, &pos, method)) return LastError();
  if (new_pos != nullptr) *new_pos = static_cast<std::uint64_t>(pos.QuadPart);
  return OsResult::Ok();
}

OsResult File::Tell(std::uint64_t& pos) { return Seek(0, SeekFrom::kCurrent, &pos); }

OsResult File::Length(std::uint64_t& length) {
  if (!impl_) return FromWin32Error(ERROR_INVALID_HANDLE);
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(impl_->handle, &size)) return LastError();
  length = static_cast<std::uint64_t>(size.QuadPart);
  return OsResult::Ok();
}

OsResult File::SetLength(std::uint64_t length) {
  // SetEndOfFile cuts at the file pointer; the caller's position is kept,
  // as ftruncate keeps it.
  if (!impl_) return FromWin32Error(ERROR_INVALID_HANDLE);
  if (OsResult failed; Injected(Call::kSetLength, failed)) return failed;
  std::uint64_t pos = 0;
  if (OsResult r = Tell(pos); !r.ok()) return r;
  if (OsResult r = Seek(static_cast<std::int64_t>(length), SeekFrom::kBegin); !r.ok()) return r;
  const BOOL cut = ::SetEndOfFile(impl_->handle);
  const DWORD err = ::GetLastError();
  if (OsResult r = Seek(static_cast<std::int64_t>(pos), SeekFrom::kBegin); !r.ok()) return r;
  return cut ? OsResult::Ok() : FromWin32Error(err);
}

OsResult File::Flush() {
  if (!impl_) return FromWin32Error(ERROR_INVALID_HANDLE);
  if (OsResult failed; Injected(Call::kFlush, failed)) return failed;
  if (!::FlushFileBuffers(impl_->handle)) return LastError();
  return OsResult::Ok();
}

void File::StartWriteBack(std::uint64_t /*offset*/, std::uint64_t /*length*/) {}

OsResult File::Close() {
  if (!impl_) return OsResult::Ok();
  const HANDLE h = impl_->handle;
  impl_.reset();
  if (!::CloseHandle(h)) return LastError();
  if (OsResult failed; Injected(Call::kClose, failed)) return failed;  // closed all the same
  return OsResult::Ok();
}

// Windows keeps writers of a file opened denying them from cutting it short,
// but a failing disk would raise an exception in the middle of the caller's
// loop; the caller reads instead.
MappedView::~MappedView() = default;
OsResult MappedView::Map(const File&, std::uint64_t) {
  if (OsResult failed; Injected(Call::kRead, failed)) return failed;  // counted as on POSIX
  return OsResult::Fail(OsErr::kOther, ERROR_NOT_SUPPORTED);
}
bool MappedView::Damaged() const { return false; }
void MappedView::Unmap() {}

}  // namespace veupd::os
