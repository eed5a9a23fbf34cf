// Helpers shared by the POSIX implementation files only.
#pragma once

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace veupd::os::posix {

// The one translation of errno into the layer's result kinds.
inline OsResult FromErrno(int err) {
  switch (err) {
    case 0: return OsResult::Ok();
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG: return OsResult::Fail(OsErr::kNotFound, err);
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return OsResult::Fail(OsErr::kAccessDenied, err);
    case EEXIST:
    case ENOTEMPTY: return OsResult::Fail(OsErr::kExists, err);
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY: return OsResult::Fail(OsErr::kSharing, err);
    default: return OsResult::Fail(OsErr::kOther, err);
  }
}

inline OsResult LastError() { return FromErrno(errno); }

// True when a test's fault plan fails this call; `failed` then holds the
// error the system would give. For a write, *size becomes the bytes to write
// before failing.
inline bool Injected(fault::Call call, OsResult& failed, std::size_t* size = nullptr) {
  if (!fault::internal::armed.load(std::memory_order_relaxed)) [[likely]] return false;
  fault::Failure failure{};
  if (!fault::internal::Take(call, failure, size)) return false;
  switch (failure) {
    case fault::Failure::kIo: failed = FromErrno(EIO); break;
    case fault::Failure::kDiskFull: failed = FromErrno(ENOSPC); break;
    case fault::Failure::kAccessDenied: failed = FromErrno(EACCES); break;
    case fault::Failure::kSharing: failed = FromErrno(EWOULDBLOCK); break;
  }
  return true;
}

// open() of a path that must exist: as written first, and only when that
// finds nothing, once more as ResolvePath finds it ignoring case. Returns
// the descriptor, or -1 with errno set.
int OpenExisting(const std::string& path, int flags);

}  // namespace veupd::os::posix

namespace veupd::os {

struct File::Impl {
  int fd = -1;
  // The length seen at the open of a file opened denying writers, which no
  // writer honouring the lock can change while it is open; -1 for other modes.
  std::int64_t fixed_length = -1;
};

}  // namespace veupd::os
