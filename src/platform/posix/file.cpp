// POSIX file handles: Windows share modes become non-blocking flock locks,
// and a file whose owner write bit is clear is read-only, even for root.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace veupd::os {

using posix::FromErrno;
using posix::Injected;
using posix::LastError;
using fault::Call;

int posix::OpenExisting(const std::string& path, int flags) {
  const std::string native = ToNative(path);
  int fd;
  do {
    fd = ::open(native.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) return fd;
  const int not_found = errno;
  const std::string resolved = ResolvePath(path);
  if (resolved == native) {
    errno = not_found;
    return -1;
  }
  do {
    fd = ::open(resolved.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

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
  int flags = O_CLOEXEC;
  int lock = 0;
  bool writes = true;
  bool truncate = false;
  switch (mode) {
    case OpenMode::kRead: flags |= O_RDONLY; writes = false; break;
    case OpenMode::kReadDenyWrite: flags |= O_RDONLY; lock = LOCK_SH; writes = false; break;
    case OpenMode::kReadWriteCreate:
    case OpenMode::kReadWriteShareRead: flags |= O_RDWR | O_CREAT; lock = LOCK_EX; break;
    case OpenMode::kReadWriteExisting: flags |= O_RDWR; lock = LOCK_EX; break;
    case OpenMode::kCreateTruncate: flags |= O_RDWR | O_CREAT; lock = LOCK_EX; truncate = true; break;
    case OpenMode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; lock = LOCK_EX; break;
  }
  int fd;
  if ((flags & O_CREAT) == 0) {
    fd = posix::OpenExisting(path, flags);
  } else {
    // A name that exists in another case must be opened, not created anew.
    const std::string native = ResolvePath(path);
    do {
      fd = ::open(native.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) return LastError();

  struct stat st;
  OsResult result;
  if (::fstat(fd, &st) != 0) {
    result = LastError();
  } else if (S_ISDIR(st.st_mode)) {
    result = FromErrno(EISDIR);
  } else if (writes && (st.st_mode & S_IWUSR) == 0) {
    result = FromErrno(EACCES);  // root could write, Windows would not
  } else if (lock != 0 && ::flock(fd, lock | LOCK_NB) != 0) {
    result = LastError();
  } else if (truncate && (st.st_size != 0 || (::fstat(fd, &st) == 0 && st.st_size != 0)) &&
             ::ftruncate(fd, 0) != 0) {
    // Truncation waits until the lock is held, so a refused open
    // leaves the other owner's data alone. An empty file is left as it is:
    // on ext4 a truncation to zero makes the file's close start writing
    // back all that was written to it, and the closer waits for that.
    result = LastError();
  }
  if (!result.ok()) {
    ::close(fd);
    return result;
  }
  impl_ = std::make_unique<Impl>();
  impl_->fd = fd;
  if (mode == OpenMode::kReadDenyWrite) impl_->fixed_length = static_cast<std::int64_t>(st.st_size);
  return OsResult::Ok();
}

bool File::IsOpen() const { return impl_ != nullptr; }

OsResult File::Read(void* data, std::size_t size, std::size_t& got) {
  got = 0;
  if (!impl_) return FromErrno(EBADF);
  if (OsResult failed; Injected(Call::kRead, failed)) return failed;
  auto* out = static_cast<char*>(data);
  while (got < size) {
    const ssize_t n = ::read(impl_->fd, out + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return OsResult::Ok();
}

OsResult File::Write(const void* data, std::size_t size) {
  if (!impl_) return FromErrno(EBADF);
  OsResult failed;
  const bool fails = Injected(Call::kWrite, failed, &size);
  const auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(impl_->fd, in + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    done += static_cast<std::size_t>(n);
  }
  return fails ? failed : OsResult::Ok();
}

OsResult File::Seek(std::int64_t offset, SeekFrom from, std::uint64_t* new_pos) {
  if (!impl_) return FromErrno(EBADF);
  const int whence = from == SeekFrom::kBegin ? SEEK_SET : from == SeekFrom::kCurrent ? SEEK_CUR : SEEK_END;
  const off_t pos = ::lseek(impl_->fd, static_cast<off_t>(offset), whence);
  if (pos < 0) return LastError();
  if (new_pos != nullptr) *new_pos = static_cast<std::uint64_t>(pos);
  return OsResult::Ok();
}

OsResult File::Tell(std::uint64_t& pos) { return Seek(0, SeekFrom::kCurrent, &pos); }

OsResult File::Length(std::uint64_t& length) {
  if (!impl_) return FromErrno(EBADF);
  if (impl_->fixed_length >= 0) {
    length = static_cast<std::uint64_t>(impl_->fixed_length);
    return OsResult::Ok();
  }
  struct stat st;
  if (::fstat(impl_->fd, &st) != 0) return LastError();
  length = static_cast<std::uint64_t>(st.st_size);
  return OsResult::Ok();
}

OsResult File::SetLength(std::uint64_t length) {
  if (!impl_) return FromErrno(EBADF);
  if (OsResult failed; Injected(Call::kSetLength, failed)) return failed;
  if (::ftruncate(impl_->fd, static_cast<off_t>(length)) != 0) return LastError();
  return OsResult::Ok();
}

OsResult File::Flush() {
  if (!impl_) return FromErrno(EBADF);
  if (OsResult failed; Injected(Call::kFlush, failed)) return failed;
  if (::fsync(impl_->fd) != 0 && errno != EINVAL) return LastError();
  return OsResult::Ok();
}

void File::StartWriteBack(std::uint64_t offset, std::uint64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (impl_ && length > 0) {
    (void)::sync_file_range(impl_->fd, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
  }
#else
  (void)offset;
  (void)length;
#endif
}

OsResult File::Close() {
  if (!impl_) return OsResult::Ok();
  const int fd = impl_->fd;
  impl_.reset();
  // close() must not be retried on EINTR: the descriptor is gone either way.
  if (::close(fd) != 0 && errno != EINTR) return LastError();
  if (OsResult failed; Injected(Call::kClose, failed)) return failed;  // closed all the same
  return OsResult::Ok();
}

}  // namespace veupd::os
