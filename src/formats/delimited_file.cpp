// CDelimitedFile: lines in text mode, cut at 800 characters, split at the
// delimiter text on the first field request. No quoting, no escaping.
#include "formats/delimited_file.h"

#include <cstring>

namespace veupd {
namespace {

const char kEmptyText[] = "";

}  // namespace

CDelimitedFile::CDelimitedFile(const char* path, int delimiter_mode)
    : delimiter_mode_(delimiter_mode) {
  if (path != nullptr) path_ = path;
}

CDelimitedFile::~CDelimitedFile() { CDelimitedFile::Close(); }

bool CDelimitedFile::SetFilePath(const char* path) {
  if (path == nullptr) return false;
  path_ = path;
  return true;
}

void CDelimitedFile::SetDelimiter(int mode, std::string_view text) {
  delimiter_mode_ = mode;
  delimiter_.assign(text);
}

bool CDelimitedFile::Open(const char* path) {
  if (path != nullptr) path_ = path;
  Close();
  if (path_.empty()) return false;
  if (!reader_.Open(path_, os::OpenMode::kReadDenyWrite).ok()) {
    reader_.Close();
    return false;
  }
  record_count_ = 0;
  split_ = false;
  open_ = true;
  return true;
}

void CDelimitedFile::Close() {
  reader_.Close();
  open_ = false;
}

int CDelimitedFile::CountRecords() {
  if (!open_) return 0;
  const std::uint64_t pos = reader_.Position();
  std::string line;
  int count = 0;
  while (reader_.ReadLine(line, kMaxLine)) ++count;
  record_count_ = count;
  if (!reader_.SeekTo(pos).ok()) {
    // The reader cannot go on from an unknown place: later reads end at once.
    Close();
  }
  return count;
}

bool CDelimitedFile::ReadRecord() {
  line_.clear();
  split_ = false;
  if (!open_ || !reader_.ReadLine(line_, kMaxLine)) return false;
  // The line is taken as a C text: a NUL byte ends it.
  const std::size_t nul = line_.find('\0');
  if (nul != std::string::npos) line_.resize(nul);
  if (!line_.empty() && line_.back() == '\n') line_.pop_back();
  // Both code pages are 0 in this system, so the bytes stay as read.
  (void)source_code_page_;
  (void)target_code_page_;
  return true;
}

void CDelimitedFile::Split() {
  fields_.clear();
  delimiter_count_ = 0;
  std::size_t start = 0;
  if (!delimiter_.empty()) {
    // The search goes on one character after each hit, whatever the
    // delimiter's length; a field that would end before it starts is empty.
    for (std::size_t p = line_.find(delimiter_); p != std::string::npos;
         p = line_.find(delimiter_, p + 1)) {
      fields_.push_back(p > start ? line_.substr(start, p - start) : std::string());
      ++delimiter_count_;
      start = p + delimiter_.size();
    }
  }
  fields_.push_back(start < line_.size() ? line_.substr(start) : std::string());
  split_ = true;
}

const char* CDelimitedFile::GetFieldText(int index) {
  if (line_.empty() || index < 0) return kEmptyText;
  if (!split_) Split();
  const auto i = static_cast<std::size_t>(index);
  return i < fields_.size() ? fields_[i].c_str() : kEmptyText;
}

void CDelimitedFile::GetField(int index, std::string& result) { result = GetFieldText(index); }

const char* CDelimitedFile::ReadField(int index) {
  if (!ReadRecord()) return kEmptyText;
  return GetFieldText(index);
}

bool CDelimitedFile::WriteLines() {
  if (open_ || path_.empty()) return false;
  std::string text;
  for (const std::string& line : output_lines_) {
    for (char c : line) {
      if (c == '\n') text += '\r';
      text += c;
    }
  }
  os::File out;
  if (!out.Open(path_, os::OpenMode::kCreateTruncate).ok()) return false;
  if (!out.Write(text.data(), text.size()).ok()) return false;
  return out.Close().ok();
}

}  // namespace veupd
