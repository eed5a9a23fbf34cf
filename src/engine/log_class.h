// CLogClass: the append-only level log writer. Opens its file lazily on the
// first entry, keeps it open (others may read, not write) until destroyed,
// and flushes after every entry. One writer per update thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace veupd {

class CLogClass {
 public:
  static constexpr int kOpenTries = 5;
  static constexpr std::uint32_t kRetryPauseMs = 20;

  explicit CLogClass(std::string path);
  virtual ~CLogClass();
  CLogClass(const CLogClass&) = delete;
  CLogClass& operator=(const CLogClass&) = delete;

  // Appends text and CR LF; an entry that cannot be written is dropped.
  void Write(std::string_view text);
  [[nodiscard]] bool Open();
  void Close();
  [[nodiscard]] bool IsOpen() const { return open_; }
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  std::string path_;
  os::File file_;
  bool open_ = false;
};

}  // namespace veupd
