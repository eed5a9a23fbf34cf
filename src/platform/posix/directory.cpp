// POSIX directory search and whole-file operations, shaped after their
// Windows counterparts: sorted search results, moves that refuse an existing
// target, and read-only files that nobody may delete.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/posix/posix_internal.h"

namespace veupd::os {

using posix::FromErrno;
using posix::Injected;
using posix::LastError;
using fault::Call;

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
constexpr std::size_t kCopyBufferSize = 65536;
constexpr mode_t kPermissionBits = 07777;

bool IsReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

DirEntry EntryFromStat(std::string name, const struct stat& st) {
  DirEntry e;
  e.name = std::move(name);
  e.is_dir = S_ISDIR(st.st_mode);
  e.read_only = IsReadOnlyMode(st.st_mode);
  e.size = e.is_dir ? 0 : static_cast<std::uint64_t>(st.st_size);
  return e;
}

std::string LastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const std::size_t sep = p.rfind('/');
  return sep == std::string::npos ? p : p.substr(sep + 1);
}

// The target path for creating a new entry: the directory part resolved
// ignoring case, the last component exactly as written.
std::string NewEntryPath(const std::string& path) {
  const std::string native = ToNative(path);
  const std::size_t sep = native.rfind('/');
  if (sep == std::string::npos) return native;
  return ResolvePath(native.substr(0, sep + 1)) + native.substr(sep + 1);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] OsResult Close() {
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) return LastError();
    return OsResult::Ok();
  }

 private:
  int fd_;
};

// The process's file creation mask, read once; all bits when unknown, so
// that permission bits are then always set explicitly.
mode_t CreationMask() {
  static const mode_t mask = [] {
    mode_t value = kPermissionBits;
    if (FILE* status = ::fopen("/proc/self/status", "re")) {
      char line[256];
      while (::fgets(line, sizeof line, status) != nullptr) {
        unsigned octal = 0;
        if (::sscanf(line, "Umask: %o", &octal) == 1) {
          value = static_cast<mode_t>(octal);
          break;
        }
      }
      ::fclose(status);
    }
    return value;
  }();
  return mask;
}

// Copies from the current positions to the end of in; size is in's length
// (its writers are kept out), so the call that would only find the end is
// not needed.
OsResult CopyContent(int in, int out, std::uint64_t size) {
  // The kernel copies without a trip through user space where it can.
  std::uint64_t copied = 0;
  for (;;) {
    if (size > 0 && copied >= size) return OsResult::Ok();
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
    if (n == 0) return OsResult::Ok();
    if (n > 0) {
      copied += static_cast<std::uint64_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    return LastError();
  }
  std::vector<char> buf(kCopyBufferSize);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return OsResult::Ok();
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(n)) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(n) - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      done += static_cast<std::size_t>(w);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------- search

OsResult DirSearch::Start(const std::string& pattern) {
  impl_.reset();
  if (pattern.empty() || IsSeparator(pattern.back())) return FromErrno(ENOENT);
  const std::size_t sep = FindLastSeparator(pattern);
  const std::string name_pattern = sep == std::string::npos ? pattern : pattern.substr(sep + 1);
  std::string dir = sep == std::string::npos ? std::string(".") : ResolvePath(pattern.substr(0, sep + 1));

  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
  if (!d) return LastError();
  if (dir.back() != '/') dir += '/';

  auto impl = std::make_unique<Impl>();
  while (const dirent* e = ::readdir(d.get())) {
    if (!WildcardMatch(name_pattern, e->d_name)) continue;
    struct stat st;
    if (::stat((dir + e->d_name).c_str(), &st) != 0) continue;  // a dangling link or a race
    impl->entries.push_back(EntryFromStat(e->d_name, st));
  }
  if (impl->entries.empty()) return FromErrno(ENOENT);
  internal::SortByName(impl->entries);
  impl_ = std::move(impl);
  return OsResult::Ok();
}

// ---------------------------------------------------------------- queries

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(ResolvePath(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(ResolvePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

OsResult GetInfo(const std::string& path, DirEntry& info) {
  const std::string native = ResolvePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return LastError();
  info = EntryFromStat(LastComponent(native), st);
  return OsResult::Ok();
}

OsResult GetReadOnly(const std::string& path, bool& read_only) {
  struct stat st;
  if (::stat(ResolvePath(path).c_str(), &st) != 0) return LastError();
  read_only = IsReadOnlyMode(st.st_mode);
  return OsResult::Ok();
}

OsResult SetReadOnly(const std::string& path, bool read_only) {
  if (OsResult failed; Injected(Call::kSetAttributes, failed)) return failed;
  const std::string native = ResolvePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return LastError();
  const mode_t mode = read_only ? (st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                                : (st.st_mode | S_IWUSR);
  if (::chmod(native.c_str(), mode & kPermissionBits) != 0) return LastError();
  return OsResult::Ok();
}

// ---------------------------------------------------------------- changes

namespace {

// The start of every copy: a test's fault plan, then the source opened
// denying writers, as the Windows copy does.
OsResult OpenCopySource(const std::string& from, int& fd, struct stat& src) {
  if (OsResult failed; Injected(Call::kCopy, failed)) return failed;
  fd = posix::OpenExisting(from, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastError();
  if (::fstat(fd, &src) != 0) return LastError();
  if (S_ISDIR(src.st_mode)) return FromErrno(EISDIR);
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return LastError();
  return OsResult::Ok();
}

// Writes the copy to target: content, permission bits, times. With
// must_be_new an existing name fails; a failed copy leaves no new file.
OsResult CopyInto(int in, const struct stat& src, const std::string& target, bool must_be_new,
                  bool existed) {
  Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (must_be_new ? O_EXCL : 0),
                src.st_mode & kPermissionBits));
  if (out.get() < 0) return LastError();
  OsResult result;
  // Truncate only once no one else holds the target, and only a target with
  // content: on ext4 a truncation to zero marks the file for writeback at
  // close, which would make every fresh copy wait for the disk.
  struct stat opened;
  if (::flock(out.get(), LOCK_EX | LOCK_NB) != 0 ||
      (!must_be_new && (::fstat(out.get(), &opened) != 0 ||
                        (opened.st_size != 0 && ::ftruncate(out.get(), 0) != 0)))) {
    result = LastError();
  }
  if (result.ok()) result = CopyContent(in, out.get(), static_cast<std::uint64_t>(src.st_size));
  // A new file already has the source's bits unless the umask took some.
  const mode_t bits = src.st_mode & kPermissionBits;
  if (result.ok() && (!must_be_new || (bits & CreationMask()) != 0) && ::fchmod(out.get(), bits) != 0) {
    result = LastError();
  }
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  if (result.ok() && ::futimens(out.get(), times) != 0) result = LastError();
  if (OsResult closed = out.Close(); result.ok()) result = closed;
  // As the Windows copy does, a failed copy leaves no half-written new file.
  if (!result.ok() && !existed) (void)::unlink(target.c_str());
  return result;
}

}  // namespace

OsResult CopyFileOver(const std::string& from, const std::string& to, bool overwrite) {
  int fd = -1;
  struct stat src;
  OsResult opened = OpenCopySource(from, fd, src);
  Fd in(fd);
  if (!opened.ok()) return opened;

  std::string target = ResolvePath(to);
  struct stat dst;
  const bool exists = ::stat(target.c_str(), &dst) == 0;
  if (exists) {
    if (!overwrite) return FromErrno(EEXIST);
    if (S_ISDIR(dst.st_mode) || IsReadOnlyMode(dst.st_mode)) return FromErrno(EACCES);
    if (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) return FromErrno(EBUSY);
  } else {
    target = NewEntryPath(to);
  }
  return CopyInto(in.get(), src, target, !overwrite, exists);
}

OsResult CopyFileToNewName(const std::string& from, const std::string& to) {
  int fd = -1;
  struct stat src;
  OsResult opened = OpenCopySource(from, fd, src);
  Fd in(fd);
  if (!opened.ok()) return opened;
  // The folder is usually named as it is on disk: try the name as written
  // before resolving the folder ignoring case.
  const std::string native = ToNative(to);
  OsResult result = CopyInto(in.get(), src, native, /*must_be_new=*/true, /*existed=*/false);
  if (result.kind != OsErr::kNotFound) return result;
  const std::string target = NewEntryPath(to);
  if (target == native) return result;
  return CopyInto(in.get(), src, target, /*must_be_new=*/true, /*existed=*/false);
}

OsResult MoveNoReplace(const std::string& from, const std::string& to) {
  if (OsResult failed; Injected(Call::kMove, failed)) return failed;
  const std::string source = ResolvePath(from);
  struct stat src;
  if (::lstat(source.c_str(), &src) != 0) return LastError();

  const std::string existing = ResolvePath(to);
  const std::string target = NewEntryPath(to);
  struct stat dst;
  if (::lstat(existing.c_str(), &dst) == 0) {
    // A target that differs only in case is taken, unless it is the source
    // itself (a rename that changes case).
    if (dst.st_dev != src.st_dev || dst.st_ino != src.st_ino) return FromErrno(EEXIST);
    if (::rename(source.c_str(), target.c_str()) != 0) return LastError();
    return OsResult::Ok();
  }
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return OsResult::Ok();
  }
  if (errno != EINVAL && errno != ENOSYS) return LastError();
#endif
  // File systems without RENAME_NOREPLACE: link refuses an existing name.
  if (!S_ISDIR(src.st_mode) && ::link(source.c_str(), target.c_str()) == 0) {
    if (::unlink(source.c_str()) != 0) return LastError();
    return OsResult::Ok();
  }
  if (errno == EEXIST) return LastError();
  if (::lstat(target.c_str(), &dst) == 0) return FromErrno(EEXIST);
  if (::rename(source.c_str(), target.c_str()) != 0) return LastError();
  return OsResult::Ok();
}

OsResult MoveToNewName(const std::string& from, const std::string& to) {
  if (OsResult failed; Injected(Call::kMove, failed)) return failed;
  const std::string source = ResolvePath(from);
  const std::string target = NewEntryPath(to);
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return OsResult::Ok();
  }
  if (errno != EINVAL && errno != ENOSYS) return LastError();
#endif
  if (::link(source.c_str(), target.c_str()) != 0) return LastError();
  if (::unlink(source.c_str()) != 0) return LastError();
  return OsResult::Ok();
}

OsResult MoveReplace(const std::string& from, const std::string& to) {
  if (OsResult failed; Injected(Call::kMove, failed)) return failed;
  const std::string source = ResolvePath(from);
  std::string target = ResolvePath(to);
  struct stat dst;
  if (::stat(target.c_str(), &dst) == 0) {
    if (IsReadOnlyMode(dst.st_mode)) return FromErrno(EACCES);
    // As with a delete, a target that someone holds open with a share mode
    // (a held lock here) is not replaced.
    if (S_ISREG(dst.st_mode)) {
      Fd probe(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
      if (probe.get() >= 0 && ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0) return LastError();
    }
  } else {
    target = NewEntryPath(to);
  }
  if (::rename(source.c_str(), target.c_str()) != 0) return LastError();
  // A target found ignoring case ends up under the name as written, as after
  // a delete and a rename. The content is already in place, so a failure
  // here only leaves the old spelling.
  if (const std::string wanted = NewEntryPath(to); wanted != target) {
#ifdef RENAME_NOREPLACE
    (void)::renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, wanted.c_str(), RENAME_NOREPLACE);
#else
    if (::link(target.c_str(), wanted.c_str()) == 0) (void)::unlink(target.c_str());
#endif
  }
  return OsResult::Ok();
}

OsResult RemoveFile(const std::string& path) {
  if (OsResult failed; Injected(Call::kRemove, failed)) return failed;
  const std::string native = ResolvePath(path);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return LastError();
  if (S_ISDIR(st.st_mode)) return FromErrno(EISDIR);
  if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return FromErrno(EACCES);
  // Windows refuses to delete a file that someone holds open with a share
  // mode; a held lock stands for that here.
  if (S_ISREG(st.st_mode)) {
    Fd probe(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (probe.get() >= 0 && ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0) return LastError();
  }
  if (::unlink(native.c_str()) != 0) return LastError();
  return OsResult::Ok();
}

OsResult MakeDirectory(const std::string& path) {
  if (OsResult failed; Injected(Call::kMakeDirectory, failed)) return failed;
  if (Exists(path)) return FromErrno(EEXIST);
  if (::mkdir(NewEntryPath(path).c_str(), 0777) != 0) return LastError();
  return OsResult::Ok();
}

OsResult RemoveFolder(const std::string& path) {
  if (OsResult failed; Injected(Call::kRemove, failed)) return failed;
  const std::string native = ResolvePath(path);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return LastError();
  if (!S_ISDIR(st.st_mode)) return FromErrno(ENOTDIR);
  if (IsReadOnlyMode(st.st_mode)) return FromErrno(EACCES);
  if (::rmdir(native.c_str()) != 0) return LastError();
  return OsResult::Ok();
}

}  // namespace veupd::os
