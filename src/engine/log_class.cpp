// Level log writer: lazy open with retries, CR LF entries, flush per entry.
#include "engine/log_class.h"

#include <utility>

namespace veupd {

CLogClass::CLogClass(std::string path) : path_(std::move(path)) {}

CLogClass::~CLogClass() { Close(); }

bool CLogClass::Open() {
  open_ = false;
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    os::File file;
    const os::OsResult opened = file.Open(path_, os::OpenMode::kReadWriteShareRead);
    if (opened.ok()) {
      // Entries are only ever appended to what an earlier level left.
      if (file.Seek(0, os::SeekFrom::kEnd).ok()) {
        file_ = std::move(file);
        open_ = true;
        return true;
      }
    }
    // The retries wait out another process that holds the file briefly; a
    // missing folder does not appear by waiting, and waiting for it at every
    // entry would hold up the whole level.
    if (opened.kind == os::OsErr::kNotFound) return false;
    os::SleepMs(kRetryPauseMs);
  }
  return false;
}

void CLogClass::Write(std::string_view text) {
  if (!open_ && !Open()) return;
  std::string entry;
  entry.reserve(text.size() + 2);
  entry.append(text);
  entry.append("\r\n");
  // Logging never fails a command: write and flush errors are dropped and
  // the file stays open for the next entry.
  // Each entry goes to the disk before the next step runs, so that the log
  // tells what happened up to a power cut, not only up to a kill.
  if (file_.Write(entry.data(), entry.size()).ok()) {
    (void)file_.Flush();  // best effort, see above
  }
}

void CLogClass::Close() {
  if (!open_) return;
  (void)file_.Close();  // nothing left to tell anyone about a closing log
  file_ = os::File();
  open_ = false;
}

}  // namespace veupd
