// Helpers shared by the POSIX implementation files only.
#pragma once

#include <cerrno>
#include <string>

#include "platform/platform.h"

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

// open() of a path that must exist: as written first, and only when that
// finds nothing, once more as ResolvePath finds it ignoring case. Returns
// the descriptor, or -1 with errno set.
int OpenExisting(const std::string& path, int flags);

}  // namespace veupd::os::posix
