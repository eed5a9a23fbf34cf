// The OS-neutral part of the platform layer: result texts, path joining,
// wildcard matching, Windows command-line splitting and the text-mode reader.
#include <algorithm>
#include <cstring>

#include "base/ascii.h"
#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace veupd::os {

namespace {

constexpr std::size_t kTextReaderBufferSize = 65536;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Plain '*' / '?' matching ignoring ASCII case, with backtracking to the last
// star only (linear in practice, never exponential).
bool MatchStars(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star_p = std::string_view::npos;
  std::size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star_p = p++;
      star_n = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || ToLowerAscii(pattern[p]) == ToLowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (star_p != std::string_view::npos) {
      p = star_p + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::string OsResult::Text() const {
  const char* what = "error";
  switch (kind) {
    case OsErr::kOk: return "ok";
    case OsErr::kNotFound: what = "not found"; break;
    case OsErr::kAccessDenied: what = "access denied"; break;
    case OsErr::kExists: what = "already exists"; break;
    case OsErr::kSharing: what = "sharing violation"; break;
    case OsErr::kOther: what = "error"; break;
  }
  return std::string(what) + " (" + std::to_string(native) + ")";
}

// ---------------------------------------------------------------- paths

std::size_t FindLastSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}

std::size_t FindFirstSeparator(std::string_view path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) return i;
  }
  return std::string_view::npos;
}

bool HasSeparator(std::string_view path) { return FindFirstSeparator(path) != std::string_view::npos; }

std::string JoinPath(std::string_view dir, std::string_view name) {
  if (dir.empty() || IsSeparator(dir.back())) return std::string(dir).append(name);
  return JoinAsGiven(dir, name);
}

std::string JoinAsGiven(std::string_view dir, std::string_view name) {
  std::string out;
  out.reserve(dir.size() + 1 + name.size());
  out.append(dir).append(1, kNativeSeparator).append(name);
  return out;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (MatchStars(pattern, name)) return true;
  // The Windows search lets a trailing ".*" also match a name without any
  // extension: "*.*" finds every name, "readme.*" finds "README".
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return MatchStars(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

// ---------------------------------------------------------------- processes

// The rules of the Windows C runtime: the program name ends at the next blank
// (or the closing quote) with no escapes; in later arguments 2n backslashes
// before a quote give n backslashes and a quote toggle, 2n+1 give n
// backslashes and a literal quote, "" inside quotes gives a literal quote, and
// other backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i == text.size()) return args;

  std::string program;
  if (text[i] == '"') {
    ++i;
    while (i < text.size() && text[i] != '"') program += text[i++];
    if (i < text.size()) ++i;
  } else {
    while (i < text.size() && !IsBlank(text[i])) program += text[i++];
  }
  args.push_back(std::move(program));

  while (true) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < text.size() && (quoted || !IsBlank(text[i]))) {
      if (text[i] == '\\') {
        std::size_t count = 0;
        while (i < text.size() && text[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < text.size() && text[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
      } else if (text[i] == '"') {
        if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += text[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

// ---------------------------------------------------------------- text reader

OsResult TextReader::Open(const std::string& path, OpenMode mode) {
  Close();
  buf_.resize(kTextReaderBufferSize);
  return file_.Open(path, mode);
}

void TextReader::Close() {
  (void)file_.Close();  // a reader has nothing to lose on close
  pos_ = end_ = 0;
  file_pos_ = 0;
  eof_ = false;
}

bool TextReader::Fill() {
  if (eof_ || !file_.IsOpen()) return false;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  std::size_t got = 0;
  if (!file_.Read(buf_.data() + end_, buf_.size() - end_, got).ok() || got == 0) {
    eof_ = true;
    return false;
  }
  end_ += got;
  file_pos_ += got;
  return true;
}

bool TextReader::ReadLine(std::string& line, std::size_t max_chars) {
  line.clear();
  while (line.size() < max_chars) {
    if (pos_ == end_ && !Fill()) break;
    char c = buf_[pos_];
    if (c == '\r') {
      if (pos_ + 1 == end_) (void)Fill();  // a false Fill leaves the lone CR as it is
      if (pos_ + 1 < end_ && buf_[pos_ + 1] == '\n') {
        pos_ += 2;
        line += '\n';
        break;
      }
    }
    ++pos_;
    line += c;
    if (c == '\n') break;
  }
  return !line.empty();
}

OsResult TextReader::SeekTo(std::uint64_t pos) {
  pos_ = end_ = 0;
  eof_ = false;
  file_pos_ = pos;
  return file_.Seek(static_cast<std::int64_t>(pos), SeekFrom::kBegin);
}

// ---------------------------------------------------------------- shared by both systems

DirSearch::DirSearch() = default;
DirSearch::~DirSearch() = default;
DirSearch::DirSearch(DirSearch&&) noexcept = default;
DirSearch& DirSearch::operator=(DirSearch&&) noexcept = default;

bool DirSearch::Next(DirEntry& entry) {
  if (!impl_ || impl_->next >= impl_->entries.size()) return false;
  entry = impl_->entries[impl_->next++];
  return true;
}

namespace {

// Search order: by name ignoring ASCII case, names equal but for case by
// their bytes.
int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto la = static_cast<unsigned char>(ToLowerAscii(a[i]));
    const auto lb = static_cast<unsigned char>(ToLowerAscii(b[i]));
    if (la != lb) return la < lb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

bool SearchOrder(const DirEntry& a, const DirEntry& b) {
  const int c = CompareNames(a.name, b.name);
  return c != 0 ? c < 0 : a.name < b.name;
}

}  // namespace

void internal::SortByName(std::vector<DirEntry>& entries) {
  std::sort(entries.begin(), entries.end(), SearchOrder);
}

bool TargetRefusedReplace(const OsResult& moved, const std::string& target) {
  return (moved.kind == OsErr::kAccessDenied || moved.kind == OsErr::kSharing) && Exists(target);
}

void FolderNames::Load(const std::string& dir) {
  entries_.clear();
  DirSearch search;
  if (!search.Start(JoinPath(dir, "*")).ok()) return;
  DirEntry entry;
  while (search.Next(entry)) entries_.push_back(std::move(entry));
}

const DirEntry* FolderNames::Find(std::string_view name) const {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                                   [](const DirEntry& e, std::string_view n) { return CompareNames(e.name, n) < 0; });
  return it != entries_.end() && CompareNames(it->name, name) == 0 ? &*it : nullptr;
}

void FolderNames::Add(DirEntry entry) {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), entry, SearchOrder);
  entries_.insert(it, std::move(entry));
}

void FolderNames::Remove(std::string_view name) {
  // The entry Find gives is the one a removal by this name ignoring case hits.
  if (const DirEntry* found = Find(name)) entries_.erase(entries_.begin() + (found - entries_.data()));
}

Module::Module() = default;
Module::~Module() { Unload(); }
Module::Module(Module&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

}  // namespace veupd::os
