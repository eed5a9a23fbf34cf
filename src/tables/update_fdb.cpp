// CUpdateFDB: the streaming rewrite of a file database (see update_fdb.h).
#include "tables/update_fdb.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include "base/ascii.h"
#include "formats/byte_order.h"
#include "formats/crc32.h"
#include "formats/text_format.h"

namespace veupd {
namespace {

constexpr std::string_view kFdbExtension = ".FDB";
constexpr std::string_view kFdxExtension = ".FDX";
constexpr std::string_view kTmpExtension = ".TMP";
constexpr std::string_view kIndexTempSuffix = "$X$";  // beside the ".FDX"
constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kMaxGatheredIndex = 4u << 20;
constexpr std::uint64_t kWriteBehind = 8u << 20;

// The upper-cased path with every ".FDB" replaced; false when there is none,
// since the companion would then be the database itself.
bool CompanionPath(std::string_view fdb_path, std::string_view extension, std::string& out) {
  out = UpperAscii(fdb_path);
  bool found = false;
  for (std::size_t at = out.find(kFdbExtension); at != std::string::npos;
       at = out.find(kFdbExtension, at + extension.size())) {
    out.replace(at, kFdbExtension.size(), extension);
    found = true;
  }
  return found;
}

// Reads exactly size bytes; false on an error or a short file.
bool ReadFull(os::File& file, void* data, std::size_t size) {
  std::size_t got = 0;
  return file.Read(data, size, got).ok() && got == size;
}

}  // namespace

CUpdateFDB::CUpdateFDB() : buffer_(kBufferSize) {}

CUpdateFDB::~CUpdateFDB() { CloseFiles(); }

bool CUpdateFDB::IndexPath(std::string_view fdb_path, std::string& fdx_path) {
  return CompanionPath(fdb_path, kFdxExtension, fdx_path);
}

bool CUpdateFDB::TempPath(std::string_view fdb_path, std::string& tmp_path) {
  return CompanionPath(fdb_path, kTmpExtension, tmp_path);
}

void CUpdateFDB::OnProgress(std::uint32_t /*total*/, std::uint32_t /*done*/) {}

bool CUpdateFDB::Fail(Error code, std::string_view pattern, std::string_view path1,
                      std::string_view path2) {
  error_ = code;
  error_text_ = FormatText(pattern, {path1, path2});
  return false;
}

const std::uint8_t* CUpdateFDB::Entry(std::uint32_t i) const {
  return index_.data() + static_cast<std::size_t>(i) * entry_length_;
}

std::uint32_t CUpdateFDB::EntryOffset(std::uint32_t i) const {
  return ReadLE32(Entry(i) + key_length_);
}

int CUpdateFDB::CompareKey(const std::uint8_t* a, const std::uint8_t* b) const {
  const std::size_t compared = key_length_ > left_out_ ? key_length_ - left_out_ : 0;
  return std::memcmp(a, b, compared);  // memcmp compares as unsigned bytes
}

bool CUpdateFDB::SetDatabase(const std::string& path, std::uint32_t key_length) {
  key_length_ = key_length;
  entry_length_ = key_length + kLengthSize;
  fdb_path_ = path;
  // The record header area holds at most this key; a key length of 0 would
  // read the index as 4-byte entries.
  if (key_length == 0 || key_length > kMaxKeyLength) {
    return Fail(kBadKeyLength, "Key length error by file %s!", path);
  }
  if (!IndexPath(path, fdx_path_) || !TempPath(path, tmp_path_)) {
    return Fail(kBadDatabaseName, "Name error by file %s!", path);
  }
  return true;
}

bool CUpdateFDB::Open(const std::string& path, std::uint32_t key_length, std::uint32_t estimate) {
  CloseFiles();
  read_pos_ = 0;
  written_ = 0;
  append_only_ = true;
  if (!SetDatabase(path, key_length)) return false;
  std::uint64_t fdx_length = 0;
  if (!LoadIndex(fdx_length)) return false;
  if (!IndexMatchesDatabase()) {
    CloseFiles();
    return Fail(kIndexMismatch, "Index error by file %s!", fdx_path_);
  }
  if (!tmp_.Open(tmp_path_, os::OpenMode::kCreateTruncate).ok()) {
    CloseFiles();
    return Fail(kTmpNotCreated, "Open error by file %s!", tmp_path_);
  }
  StartMerge(fdx_length, estimate);
  if (!CopyUpTo(entry_length_)) {
    CloseFiles();
    return false;
  }
  return true;
}

bool CUpdateFDB::LoadIndex(std::uint64_t& fdx_length) {
  os::File fdx;
  if (!fdx.Open(fdx_path_, os::OpenMode::kRead).ok() || !fdx.Length(fdx_length).ok()) {
    return Fail(kIndexNotOpened, "Open error by file %s!", fdx_path_);
  }
  if (!fdb_.Open(fdb_path_, os::OpenMode::kRead).ok() || !fdb_.Length(fdb_length_).ok()) {
    CloseFiles();
    return Fail(kFdbNotOpened, "Open error by file %s!", fdb_path_);
  }
  // Every entry stands for a record of at least entry-length bytes, so an
  // index larger than its database is damaged; this also bounds the memory.
  const bool index_fits = fdx_length % entry_length_ == 0 && fdx_length <= fdb_length_ &&
                          fdb_length_ >= entry_length_ && fdb_length_ <= kMaxOffset;
  if (!index_fits) {
    CloseFiles();
    return Fail(kIndexMismatch, "Index error by file %s!", fdx_path_);
  }
  try {
    index_.resize(static_cast<std::size_t>(fdx_length));
  } catch (const std::bad_alloc&) {
    CloseFiles();
    return Fail(kNoIndexMemory, "Allocation error by file %s!", fdx_path_);
  }
  if (!ReadFull(fdx, index_.data(), index_.size())) {
    CloseFiles();
    return Fail(kReadFailed, "Read error by file %s!", fdx_path_);
  }
  (void)fdx.Close();  // read-only: nothing to lose
  if (fdx_length > entry_length_) {
    old_count_ = static_cast<std::uint32_t>(fdx_length / entry_length_ - 1);
    append_only_ = false;
  }
  return true;
}

bool CUpdateFDB::IndexMatchesDatabase() const {
  // The merge copies the old database in ranges between index offsets, so
  // the offsets must rise record by record and the keys must be in order.
  bool consistent = index_.empty() ? fdb_length_ == entry_length_ : EntryOffset(0) == 0;
  std::uint64_t earliest = entry_length_;  // where the next record may start at the earliest
  for (std::uint32_t i = 1; consistent && i <= old_count_; ++i) {
    const std::uint64_t offset = EntryOffset(i);
    consistent = (i == 1 ? offset == entry_length_ : offset >= earliest) &&
                 (i == 1 || std::memcmp(Entry(i - 1), Entry(i), key_length_) < 0);
    earliest = offset + entry_length_;
  }
  return consistent && (old_count_ == 0 || earliest <= fdb_length_);
}

void CUpdateFDB::StartMerge(std::uint64_t fdx_length, std::uint32_t estimate) {
  chain_next_ = 0;
  chain_entry_ = 0;
  chain_header_.clear();
  tmp_complete_ = false;
  read_back_crc_ = 0;
  read_back_ok_ = true;
  tmp_end_ = 0;
  written_back_ = 0;
  write_behind_off_ = false;
  new_index_.clear();
  gather_ = true;
  new_index_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(fdx_length + kBufferSize, kMaxGatheredIndex)));
  chain_header_.reserve(entry_length_);
  last_key_.clear();
  progress_total_ = static_cast<std::uint32_t>(std::max<std::uint64_t>(fdb_length_, estimate));
  OnProgress(progress_total_, 0);
}

bool CUpdateFDB::CopyUpTo(std::uint64_t offset) {
  if (read_pos_ >= offset) return true;
  if (offset > fdb_length_) return Fail(kIndexMismatch, "Index error by file %s!", fdx_path_);
  if (!fdb_.Seek(static_cast<std::int64_t>(read_pos_), os::SeekFrom::kBegin).ok()) {
    return Fail(kReadFailed, "Read error by file %s!", fdb_path_);
  }
  while (read_pos_ < offset) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, offset - read_pos_));
    // A database shorter than it was when opened is not copied on with
    // filler bytes: the change fails instead.
    if (!ReadFull(fdb_, buffer_.data(), want)) {
      return Fail(kReadFailed, "Read error by file %s!", fdb_path_);
    }
    if (!CheckChain(buffer_.data(), want, read_pos_)) return false;
    if (!WriteTmp(buffer_.data(), want)) {
      return Fail(kWriteFailed, "Write error by file %s!", tmp_path_);
    }
    read_pos_ += want;
    written_ += want;
    OnProgress(progress_total_, static_cast<std::uint32_t>(written_));
  }
  return true;
}

bool CUpdateFDB::CheckChain(const std::uint8_t* data, std::size_t size, std::uint64_t pos) {
  const std::uint64_t end = pos + size;
  for (;;) {
    const std::uint64_t wanted = chain_next_ + chain_header_.size();
    if (wanted >= end) return true;
    if (wanted < pos) return Fail(kIndexMismatch, "Index error by file %s!", fdx_path_);  // header jumped over
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(entry_length_ - chain_header_.size(), end - wanted));
    const std::uint8_t* from = data + (wanted - pos);
    chain_header_.insert(chain_header_.end(), from, from + take);
    if (chain_header_.size() < entry_length_) return true;

    const std::uint32_t length = ReadLE32(chain_header_.data());
    const std::uint8_t* key = chain_header_.data() + kLengthSize;
    const std::uint64_t record_end = chain_next_ + kLengthSize + length;
    bool ok = length >= key_length_ && record_end <= fdb_length_;
    if (chain_entry_ == 0) {
      ok = ok && length == key_length_ &&
           (index_.empty() || std::memcmp(key, Entry(0), key_length_) == 0);
    } else {
      ok = ok && chain_entry_ <= old_count_ && EntryOffset(chain_entry_) == chain_next_ &&
           std::memcmp(key, Entry(chain_entry_), key_length_) == 0;
    }
    if (!ok) return Fail(kIndexMismatch, "Index error by file %s!", fdx_path_);
    if (chain_entry_ > 0 && !TakeKey(key)) return Fail(kNamesUnsorted, "Sort error by file %s!", fdb_path_);
    // A copied range lands in the ".TMP" at the same distance from where
    // the range starts.
    GatherEntry(key, chain_next_ + written_ - pos);
    chain_next_ = record_end;
    ++chain_entry_;
    chain_header_.clear();
  }
}

bool CUpdateFDB::TakeKey(const std::uint8_t* key) {
  if (!last_key_.empty() && std::memcmp(last_key_.data(), key, key_length_) >= 0) return false;
  last_key_.assign(key, key + key_length_);
  return true;
}

bool CUpdateFDB::SkipRecord(std::uint32_t i) {
  // Entry i of the old index is chain entry i + 1 (after the header).
  const std::uint32_t entry = i + 1;
  if (!chain_header_.empty() || chain_entry_ != entry || chain_next_ != read_pos_ ||
      EntryOffset(entry) != read_pos_) {
    return Fail(kIndexMismatch, "Index error by file %s!", fdx_path_);
  }
  read_pos_ = entry < old_count_ ? EntryOffset(entry + 1) : fdb_length_;
  chain_next_ = read_pos_;
  chain_entry_ = entry + 1;
  return true;
}

bool CUpdateFDB::CheckChainEnd() {
  const bool whole = read_pos_ == fdb_length_ && chain_next_ == fdb_length_ &&
                     chain_header_.empty() && chain_entry_ == old_count_ + 1;
  return whole || Fail(kIndexMismatch, "Index error by file %s!", fdx_path_);
}

bool CUpdateFDB::AppendFile(std::string_view name, const std::string& directory) {
  const std::string path = os::JoinPath(directory, name);
  last_data_length_ = 0;
  os::File file;
  std::uint64_t length = 0;
  if (!file.Open(path, os::OpenMode::kRead).ok() || !file.Length(length).ok()) {
    return Fail(kUpdateFileNotOpened, "Open error by file %s!", path);
  }
  if (length == 0) return true;  // an empty file adds no record
  if (length > kMaxOffset - key_length_ || written_ + kLengthSize + key_length_ + length > kMaxOffset) {
    return Fail(kWriteFailed, "Write error by file %s!", tmp_path_);  // past 32-bit offsets
  }
  if (!TakeKey(reinterpret_cast<const std::uint8_t*>(name.data()))) {
    return Fail(kNamesUnsorted, "Sort error by file %s!", path);
  }
  GatherEntry(reinterpret_cast<const std::uint8_t*>(name.data()), written_);
  // The record header goes out with the first data block.
  WriteLE32(buffer_.data(), static_cast<std::uint32_t>(key_length_ + length));
  std::memcpy(buffer_.data() + kLengthSize, name.data(), key_length_);
  std::size_t filled = kLengthSize + key_length_;
  std::uint64_t left = length;
  while (left > 0 || filled > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize - filled, left));
    if (want > 0 && !ReadFull(file, buffer_.data() + filled, want)) {
      return Fail(kReadFailed, "Read error by file %s!", path);
    }
    const std::size_t block = filled + want;
    if (!WriteTmp(buffer_.data(), block)) {
      return Fail(kWriteFailed, "Write error by file %s!", tmp_path_);
    }
    left -= want;
    filled = 0;
    written_ += block;
    last_data_length_ += static_cast<std::uint32_t>(want);
    OnProgress(progress_total_, static_cast<std::uint32_t>(written_));
  }
  return true;
}

bool CUpdateFDB::Update(std::string_view names, const std::string& directory, int count) {
  if (!tmp_.IsOpen()) return Fail(kFdbNotOpened, "Open error by file %s!", fdb_path_);
  // Take the names apart first: each must hold a whole key, and they must
  // come in the order of the merge, or the new database would be unsorted.
  std::vector<std::string_view> list;
  std::size_t at = 0;
  for (int j = 0; j < count && at < names.size(); ++j) {
    std::size_t nul = names.find('\0', at);
    if (nul == std::string_view::npos) nul = names.size();
    const std::string_view name = names.substr(at, nul - at);
    if (name.empty()) break;
    if (name.size() < key_length_) {
      return FinishCopy(Fail(kBadKeyLength, "Key length error by file %s!", os::JoinPath(directory, name)));
    }
    if (!list.empty() && CompareKey(reinterpret_cast<const std::uint8_t*>(list.back().data()),
                                    reinterpret_cast<const std::uint8_t*>(name.data())) > 0) {
      return FinishCopy(Fail(kNamesUnsorted, "Sort error by file %s!", os::JoinPath(directory, name)));
    }
    list.push_back(name);
    at = nul + 1;
  }

  std::uint32_t i = 0;
  std::uint64_t boundary = 0;
  bool ok = true;
  for (std::size_t j = 0; j < list.size() && ok;) {
    const std::string_view name = list[j];
    if (append_only_) {
      ok = AppendFile(name, directory);
      ++j;
      continue;
    }
    const int order = CompareKey(reinterpret_cast<const std::uint8_t*>(name.data()), Entry(i + 1));
    if (order < 0) {
      ok = CopyUpTo(boundary) && AppendFile(name, directory);
      ++j;
    } else if (order > 0) {
      // The passed record goes out with the next range.
      if (++i < old_count_) {
        boundary = EntryOffset(i + 1);
      } else {
        append_only_ = true;
        ok = CopyUpTo(fdb_length_);
      }
    } else {
      // The file replaces the record (or removes it when empty).
      ok = CopyUpTo(boundary) && AppendFile(name, directory) && SkipRecord(i);
      if (++i >= old_count_) append_only_ = true;
      ++j;
    }
  }
  ok = ok && CopyUpTo(fdb_length_) && CheckChainEnd();
  return FinishCopy(ok);
}

bool CUpdateFDB::Delete(std::string_view key) {
  if (!tmp_.IsOpen()) return Fail(kFdbNotOpened, "Open error by file %s!", fdb_path_);
  if (key.size() != key_length_) {
    return FinishCopy(Fail(kBadKeyLength, "Key length error by file %s!", fdb_path_));
  }
  bool ok = true;
  for (std::uint32_t i = 0; i < old_count_; ++i) {
    const int order = CompareKey(reinterpret_cast<const std::uint8_t*>(key.data()), Entry(i + 1));
    if (order < 0) break;
    if (order == 0) {
      ok = CopyUpTo(EntryOffset(i + 1)) && SkipRecord(i);
      break;
    }
  }
  ok = ok && CopyUpTo(fdb_length_) && CheckChainEnd();
  return FinishCopy(ok);
}

bool CUpdateFDB::FinishCopy(bool ok) {
  write_behind_.reset();
  if (ok && tmp_.IsOpen() && !tmp_.Close().ok()) {
    ok = Fail(kWriteFailed, "Write error by file %s!", tmp_path_);
  }
  CloseFiles();
  tmp_complete_ = ok;
  if (!ok) std::vector<std::uint8_t>().swap(new_index_);
  return ok;
}

void CUpdateFDB::CloseFiles() {
  write_behind_.reset();  // before the ".TMP" it works on is closed
  (void)tmp_.Close();  // a failed change: the ".TMP" is incomplete anyway
  (void)fdb_.Close();  // read-only
  std::vector<std::uint8_t>().swap(index_);
  old_count_ = 0;
}

bool CUpdateFDB::Finish(std::uint32_t expected_crc) {
  if (expected_crc != 0) {
    // The check reads the ".TMP" back from the file: it vouches for what
    // will replace the database, not for what was meant to be written.
    bool matches = false;
    if (tmp_complete_ && read_back_ok_) {
      matches = read_back_crc_ == expected_crc;
    } else {
      CCrc32 crc;
      matches = crc.CheckFile(tmp_path_, expected_crc);
    }
    if (!matches) {
      (void)os::RemoveFile(tmp_path_);  // the old database stays as it was
      return Fail(kCrcMismatch, "CRC error by file %s!", tmp_path_);
    }
  }
  // One rename replaces the database, so that a program killed at any
  // instant leaves the old or the new one, never none. What would make the
  // delete fail (read-only, held open, gone) fails the replace as well.
  if (!os::Exists(fdb_path_)) return Fail(kFdbNotDeleted, "Delete error by file %s!", fdb_path_);
  if (const os::OsResult moved = os::MoveReplace(tmp_path_, fdb_path_); !moved.ok()) {
    if (os::TargetRefusedReplace(moved, fdb_path_)) {
      return Fail(kFdbNotDeleted, "Delete error by file %s!", fdb_path_);
    }
    return Fail(kTmpNotRenamed, "Rename error by files %s->%s!", tmp_path_, fdb_path_);
  }
  return true;
}

bool CUpdateFDB::WriteTmp(std::uint8_t* data, std::size_t size) {
  if (!tmp_.Write(data, size).ok()) return false;
  const std::uint64_t end = tmp_end_ + size;
  if (read_back_ok_) {
    // Read back what the file now holds; reading the whole ".TMP" again at
    // the end would fetch every byte from memory a second time.
    std::size_t got = 0;
    read_back_ok_ = tmp_.Seek(static_cast<std::int64_t>(tmp_end_), os::SeekFrom::kBegin).ok() &&
                    tmp_.Read(data, size, got).ok() && got == size;
    if (read_back_ok_) {
      CCrc32::AddBytes(read_back_crc_, data, size);
    } else if (!tmp_.Seek(static_cast<std::int64_t>(end), os::SeekFrom::kBegin).ok()) {
      return false;  // the next block would land in the wrong place
    }
  }
  tmp_end_ = end;
  if (tmp_end_ - written_back_ >= kWriteBehind && !write_behind_off_) {
    if (!write_behind_) {
      try {
        write_behind_ = std::make_unique<WriteBehind>(tmp_);
      } catch (const std::exception&) {
        write_behind_off_ = true;  // no thread: the rename has it all written
        return true;
      }
    }
    write_behind_->Written(tmp_end_);
    written_back_ = tmp_end_;
  }
  return true;
}

CUpdateFDB::WriteBehind::WriteBehind(os::File& file) : file_(file), thread_([this] { Run(); }) {}

CUpdateFDB::WriteBehind::~WriteBehind() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void CUpdateFDB::WriteBehind::Written(std::uint64_t end) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    end_ = end;
  }
  wake_.notify_one();
}

void CUpdateFDB::WriteBehind::Run() {
  std::uint64_t started = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || end_ > started; });
    if (stop_) return;  // what is left goes to the disk with the rename
    const std::uint64_t end = end_;
    lock.unlock();
    file_.StartWriteBack(started, end - started);
    started = end;
    lock.lock();
  }
}

void CUpdateFDB::GatherEntry(const std::uint8_t* key, std::uint64_t offset) {
  if (!gather_) return;
  const std::size_t at = new_index_.size();
  if (at + entry_length_ > kMaxGatheredIndex) {
    // Beyond this the index is read back from the database instead, so
    // that memory stays within the old index and a few MiB.
    gather_ = false;
    std::vector<std::uint8_t>().swap(new_index_);
    return;
  }
  new_index_.resize(at + entry_length_);
  std::memcpy(new_index_.data() + at, key, key_length_);
  WriteLE32(new_index_.data() + at + key_length_, static_cast<std::uint32_t>(offset));
}

bool CUpdateFDB::WriteGatheredIndex(os::File& fdx) {
  if (!fdx.Write(new_index_.data(), new_index_.size()).ok() || !fdx.Flush().ok() || !fdx.Close().ok()) {
    return Fail(kWriteFailed, "Write error by file %s!", fdx_path_);
  }
  return true;
}

bool CUpdateFDB::WriteIndex() {
  if (fdx_path_.empty() || key_length_ == 0 || key_length_ > kMaxKeyLength) {
    return Fail(kBadKeyLength, "Key length error by file %s!", fdb_path_);
  }
  // The index is built under a temporary name and renamed over the old one,
  // so that it is never seen empty or half-written.
  const std::string temp_path = fdx_path_ + std::string(kIndexTempSuffix);
  os::File fdx;
  if (!fdx.Open(temp_path, os::OpenMode::kCreateTruncate).ok()) {
    return Fail(kIndexNotOpened, "Open error by file %s!", fdx_path_);
  }
  const bool ok = WriteIndexTo(fdx);
  if (ok && os::MoveReplace(temp_path, fdx_path_).ok()) return true;
  (void)fdx.Close();
  (void)os::RemoveFile(temp_path);  // the old index stays as it was
  return ok ? Fail(kIndexNotOpened, "Open error by file %s!", fdx_path_) : false;
}

bool CUpdateFDB::WriteIndexTo(os::File& fdx) {
  if (tmp_complete_ && gather_ && !new_index_.empty()) return WriteGatheredIndex(fdx);
  os::File fdb;
  std::uint64_t length = 0;
  if (!fdb.Open(fdb_path_, os::OpenMode::kRead).ok() || !fdb.Length(length).ok()) {
    return Fail(kFdbNotOpened, "Open error by file %s!", fdb_path_);
  }
  // Without its header record the file is no database to index.
  if (length < entry_length_) return Fail(kIndexMismatch, "Index error by file %s!", fdb_path_);
  // Entries gather in the copy buffer and go out in whole blocks.
  const std::size_t per_block = kBlockSize / entry_length_ * entry_length_;
  std::size_t filled = 0;
  std::uint64_t position = 0;
  std::uint8_t header[kLengthSize + kMaxKeyLength];
  while (position + entry_length_ <= length) {
    if (!ReadFull(fdb, header, entry_length_)) {
      return Fail(kReadFailed, "Read error by file %s!", fdb_path_);
    }
    const std::uint32_t record_length = ReadLE32(header);
    const std::uint64_t next = position + kLengthSize + record_length;
    // A record running backwards or past the end would loop or index garbage;
    // a header record of another length means another key length.
    if (record_length < key_length_ || next > length || position > kMaxOffset ||
        (position == 0 && record_length != key_length_)) {
      return Fail(kIndexMismatch, "Index error by file %s!", fdb_path_);
    }
    std::memcpy(buffer_.data() + filled, header + kLengthSize, key_length_);
    WriteLE32(buffer_.data() + filled + key_length_, static_cast<std::uint32_t>(position));
    filled += entry_length_;
    if (filled == per_block) {
      if (!fdx.Write(buffer_.data(), filled).ok()) return Fail(kWriteFailed, "Write error by file %s!", fdx_path_);
      filled = 0;
    }
    if (next != position + entry_length_ &&
        !fdb.Seek(static_cast<std::int64_t>(next), os::SeekFrom::kBegin).ok()) {
      return Fail(kReadFailed, "Read error by file %s!", fdb_path_);
    }
    position = next;
  }
  if (position != length) return Fail(kIndexMismatch, "Index error by file %s!", fdb_path_);
  if ((filled > 0 && !fdx.Write(buffer_.data(), filled).ok()) || !fdx.Flush().ok() ||
      !fdx.Close().ok()) {
    return Fail(kWriteFailed, "Write error by file %s!", fdx_path_);
  }
  return true;
}

}  // namespace veupd
