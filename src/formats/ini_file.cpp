// CIniClass: INI files parsed from their whole content, with CR LF lines
// (the scanner finds the next CR and steps two bytes), headers '[' at the
// line start, untrimmed names and trimmed values. Writes rewrite the file.
#include "formats/ini_file.h"

#include <cstdint>
#include <cstring>

#include "base/ascii.h"
#include "platform/platform.h"

namespace veupd {
namespace {

constexpr int kOpenTries = 3;
constexpr std::uint32_t kRetryPauseMs = 100;
constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kLineEndStep = 2;  // CR and the LF assumed after it

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool NamesEqual(std::string_view a, std::string_view b, bool no_case) {
  return no_case ? EqualsNoCase(a, b) : a == b;
}

// A view of the content with the searches the scanner needs. The next '='
// and ']' are remembered, so that a huge file without them is still scanned
// in one pass instead of once per line.
class Scanner {
 public:
  Scanner(const char* data, std::size_t size) : data_(data), size_(size) {}

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] char at(std::size_t pos) const { return data_[pos]; }
  [[nodiscard]] std::string_view Text(std::size_t from, std::size_t to) const {
    return {data_ + from, to - from};
  }

  // Position of c at or after pos, or npos.
  [[nodiscard]] std::size_t Find(char c, std::size_t pos) const {
    if (pos >= size_) return std::string_view::npos;
    const void* hit = std::memchr(data_ + pos, c, size_ - pos);
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - data_);
  }
  [[nodiscard]] std::size_t FindCached(char c, std::size_t pos, std::size_t& cache) const {
    if (cache == kUnknown || (cache != std::string_view::npos && cache < pos)) cache = Find(c, pos);
    return cache;
  }
  [[nodiscard]] std::size_t FindEquals(std::size_t pos) { return FindCached('=', pos, next_equals_); }
  [[nodiscard]] std::size_t FindBracket(std::size_t pos) { return FindCached(']', pos, next_bracket_); }

  // The start of the next line: after the next CR and one more byte; past
  // the end when there is no CR.
  [[nodiscard]] std::size_t NextLine(std::size_t pos) const {
    const std::size_t cr = Find('\r', pos);
    return cr == std::string_view::npos ? size_ + 1 : cr + kLineEndStep;
  }
  [[nodiscard]] std::size_t SkipBlanks(std::size_t pos) const {
    while (pos < size_ && IsBlank(data_[pos])) ++pos;
    return pos;
  }

 private:
  static constexpr std::size_t kUnknown = std::string_view::npos - 1;
  const char* data_;
  std::size_t size_;
  std::size_t next_equals_ = kUnknown;
  std::size_t next_bracket_ = kUnknown;
};

bool FindSectionIn(Scanner& s, std::string_view section, std::size_t& pos, bool no_case) {
  pos = s.SkipBlanks(pos);
  bool found = false;
  while (!found && pos < s.size()) {
    if (s.at(pos) != '[') {
      pos = s.NextLine(pos);
      continue;
    }
    const std::size_t close = s.FindBracket(pos + 1);
    if (close == std::string_view::npos) return false;
    found = NamesEqual(s.Text(pos + 1, close), section, no_case);
    pos = s.NextLine(pos);
  }
  return found;
}

enum class KeyScan { kFound, kSectionEnd, kNoEquals };

struct KeyHit {
  KeyScan result = KeyScan::kSectionEnd;
  std::size_t key = 0;     // first character of the key line's name
  std::size_t equals = 0;  // its '='
  std::size_t end = 0;     // section end: the next header's '[' or the content's end
};

// Scans the key lines of a section body from pos. Reading gives up when no
// '=' follows at all (skip_no_equals false); writing skips such lines.
KeyHit ScanKeys(Scanner& s, std::string_view key, std::size_t pos, bool no_case,
                bool skip_no_equals) {
  KeyHit hit;
  while (pos < s.size()) {
    pos = s.SkipBlanks(pos);
    if (pos >= s.size() || s.at(pos) == '[') break;
    const std::size_t equals = s.FindEquals(pos);
    if (equals == std::string_view::npos) {
      if (!skip_no_equals) {
        hit.result = KeyScan::kNoEquals;
        return hit;
      }
    } else if (NamesEqual(s.Text(pos, equals), key, no_case)) {
      hit.result = KeyScan::kFound;
      hit.key = pos;
      hit.equals = equals;
      return hit;
    }
    pos = s.NextLine(pos);
  }
  hit.end = pos < s.size() ? pos : s.size();
  return hit;
}

std::string_view Trim(std::string_view v) {
  while (!v.empty() && IsWhite(v.front())) v.remove_prefix(1);
  while (!v.empty() && IsWhite(v.back())) v.remove_suffix(1);
  return v;
}

bool OpenWithRetries(os::File& file, const std::string& path, os::OpenMode mode) {
  for (int attempt = 0; attempt < kOpenTries; ++attempt) {
    if (file.Open(path, mode).ok()) return true;
    os::SleepMs(kRetryPauseMs);
  }
  return false;
}

// The whole file into buf, of its exact length plus the terminating zero.
bool ReadAll(os::File& file, CDynBuf& buf) {
  buf.Empty();
  std::uint64_t length = 0;
  if (!file.Length(length).ok()) return false;
  if (length > SIZE_MAX - 1) return false;
  const auto size = static_cast<std::size_t>(length);
  if (!buf.Reserve(size)) return false;
  std::size_t got = 0;
  if (!file.Read(buf.Data(), size, got).ok() || got != size) return false;
  buf.SetSize(size);
  return true;
}

bool ReadFileContent(const std::string& path, CDynBuf& buf) {
  os::File file;
  if (!OpenWithRetries(file, path, os::OpenMode::kReadDenyWrite)) return false;
  return ReadAll(file, buf);
}

// Writers open exclusively, creating a missing file without truncating,
// and read the whole content.
bool OpenForEdit(os::File& file, const std::string& path, CDynBuf& content) {
  return OpenWithRetries(file, path, os::OpenMode::kReadWriteCreate) && ReadAll(file, content);
}

bool WriteFromStart(os::File& file, std::string_view content) {
  return file.SetLength(0).ok() && file.Seek(0, os::SeekFrom::kBegin).ok() &&
         file.Write(content.data(), content.size()).ok();
}

// A write that fails part way would leave the file cut short, or empty; the
// old content is put back (the space it took has just been freed) and the
// operation fails.
bool Rewrite(os::File& file, std::string_view content, std::string_view old) {
  if (WriteFromStart(file, content)) return true;
  (void)WriteFromStart(file, old);  // best effort: the failure is reported either way
  return false;
}

// The start of the line after the one holding pos (after CR and LF).
std::size_t AfterLine(const Scanner& s, std::size_t pos) {
  const std::size_t next = s.NextLine(pos);
  return next < s.size() ? next : s.size();
}

// ReadValue on content already in memory.
bool ParseValue(const char* data, std::size_t size, std::string_view section,
                std::string_view key, std::string_view def, std::string& result, bool no_case) {
  Scanner s(data, size);
  std::size_t pos = 0;
  if (!CIniClass::FindSection(section, data, size, pos, no_case)) {
    result.assign(def);
    return true;
  }
  const KeyHit hit = ScanKeys(s, key, pos, no_case, /*skip_no_equals=*/false);
  switch (hit.result) {
    case KeyScan::kSectionEnd:
      result.assign(def);
      return true;
    case KeyScan::kNoEquals:
      result.assign(def);
      return false;
    case KeyScan::kFound:
      break;
  }
  const std::size_t cr = s.Find('\r', hit.equals + 1);
  result.assign(Trim(s.Text(hit.equals + 1, cr == std::string_view::npos ? size : cr)));
  return true;
}

}  // namespace

bool CIniClass::FindSection(std::string_view section, const char* content, std::size_t size,
                            std::size_t& pos, bool no_case) {
  Scanner s(content, size);
  return FindSectionIn(s, section, pos, no_case);
}

bool CIniClass::ReadValue(std::string_view section, std::string_view key, std::string_view def,
                          std::string& result, const std::string& file, bool no_case) {
  result.clear();
  CDynBuf content;
  if (!ReadFileContent(file, content)) {
    result.assign(def);
    return false;
  }
  return ParseValue(content.Text(), content.Size(), section, key, def, result, no_case);
}

bool CIniClass::ReadValueCached(std::string_view section, std::string_view key,
                                std::string_view def, std::string& result, const std::string& file,
                                bool no_case) {
  result.clear();
  const bool cached =
      !m_strCacheFile.empty() && NamesEqual(m_strCacheFile, file, /*no_case=*/true) && m_Cache.Size() > 0;
  if (!cached) {
    m_Cache.Empty();
    m_strCacheFile.clear();
    if (!ReadFileContent(file, m_Cache)) {
      m_Cache.Empty();
      result.assign(def);
      return false;
    }
    m_strCacheFile = file;
  }
  return ParseValue(m_Cache.Text(), m_Cache.Size(), section, key, def, result, no_case);
}

bool CIniClass::WriteValue(std::string_view section, std::string_view key, std::string_view value,
                           const std::string& file, bool no_case) {
  m_Cache.Empty();
  m_strCacheFile.clear();
  os::File f;
  CDynBuf content;
  if (!OpenForEdit(f, file, content)) return false;
  const std::string_view old(content.Text(), content.Size());
  Scanner s(old.data(), old.size());

  std::size_t pos = 0;
  if (!FindSectionIn(s, section, pos, no_case)) {
    std::string tail;
    if (old.size() > 1 && old.substr(old.size() - 2) != kCrLf) tail += kCrLf;
    tail.append(kCrLf).append("[").append(section).append("]").append(kCrLf);
    tail.append(key).append("=").append(value).append(kCrLf);
    if (!f.Seek(0, os::SeekFrom::kEnd).ok() || !f.Write(tail.data(), tail.size()).ok()) {
      (void)f.SetLength(old.size());  // no torn tail: a header without its ']' spoils later reads
      return false;
    }
    return f.Close().ok();
  }

  std::string updated;
  const KeyHit hit = ScanKeys(s, key, pos, no_case, /*skip_no_equals=*/true);
  if (hit.result == KeyScan::kFound) {
    updated.append(old.substr(0, hit.key)).append(key).append("=").append(value).append(kCrLf);
    updated.append(old.substr(AfterLine(s, hit.equals)));
  } else {
    // The section's trailing empty lines give way to one after the new key.
    std::size_t last = hit.end;
    while (last > 0 && (old[last - 1] == '\r' || old[last - 1] == '\n')) --last;
    updated.append(old.substr(0, last)).append(kCrLf);
    updated.append(key).append("=").append(value).append(kCrLf).append(kCrLf);
    updated.append(old.substr(hit.end));
  }
  if (!Rewrite(f, updated, old)) return false;
  return f.Close().ok();
}

bool CIniClass::DeleteKey(std::string_view section, std::string_view key, const std::string& file,
                          bool no_case) {
  m_Cache.Empty();
  m_strCacheFile.clear();
  os::File f;
  CDynBuf content;
  if (!OpenForEdit(f, file, content)) return false;
  const std::string_view old(content.Text(), content.Size());
  Scanner s(old.data(), old.size());

  std::size_t pos = 0;
  if (FindSectionIn(s, section, pos, no_case)) {
    const KeyHit hit = ScanKeys(s, key, pos, no_case, /*skip_no_equals=*/true);
    if (hit.result == KeyScan::kFound) {
      std::string updated(old.substr(0, hit.key));
      updated.append(old.substr(AfterLine(s, hit.equals)));
      if (!Rewrite(f, updated, old)) return false;
    }
  }
  return f.Close().ok();
}

}  // namespace veupd
