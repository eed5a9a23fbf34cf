// FDT: loading a structure, searching both index forms and decoding one
// field of a record in place. Every read is bounded by the buffer or the file
// it comes from; damaged input ends as "not found" or the empty text.
#include "tables/fdt.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace veupd {
namespace {

constexpr char kReadErrorText[] = "FDT::NewStru() Lesefehler FDT-Datei!\n";
constexpr char kEmptyText[] = "";
// Deeper group nesting than this is treated as a damaged structure; it keeps
// the size computation's recursion bounded.
constexpr int kMaxGroupDepth = 8;
// Sizes above this are clamped: a record's length word cannot exceed it.
constexpr std::size_t kSizeCap = 0xFFFF;
constexpr std::uint64_t kMaxBlockNumber = 0xFFFFFFFFull;

FDT* g_callback_object = nullptr;

bool ReadExact(os::File& file, void* data, std::size_t size) {
  std::size_t got = 0;
  return file.Read(data, size, got).ok() && got == size;
}

bool ReadU16(os::File& file, std::uint16_t& value) {
  std::uint8_t bytes[2];
  if (!ReadExact(file, bytes, sizeof bytes)) return false;
  value = ReadLE16(bytes);
  return true;
}

std::size_t SatAdd(std::size_t a, std::size_t b) { return std::min(a + b, kSizeCap + 1); }
std::size_t SatMul(std::size_t a, std::size_t b) {
  if (a != 0 && b > (kSizeCap + 1) / a) return kSizeCap + 1;
  return std::min(a * b, kSizeCap + 1);
}

// Opens a file briefly to learn its length (SetFiles, ChangeFiles).
bool MeasureFile(const std::string& path, std::uint32_t& length) {
  os::File file;
  std::uint64_t size = 0;
  if (!file.Open(path, os::OpenMode::kReadDenyWrite).ok() || !file.Length(size).ok()) return false;
  if (size > std::numeric_limits<std::uint32_t>::max()) return false;
  length = static_cast<std::uint32_t>(size);
  return true;
}

std::string TextAt(const std::uint8_t* p, std::size_t max) {
  std::size_t n = 0;
  while (n < max && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// The bytes of a record from some field on, as ViewField walks them.
struct RecordCursor {
  const std::uint8_t* p;
  const std::uint8_t* end;

  [[nodiscard]] std::size_t Left() const { return std::size_t(end - p); }

  // A value's 1- or 2-byte length prefix; false when the prefix or the value
  // it announces runs past the record.
  bool TakePrefix(std::uint16_t flags, std::size_t& n) {
    const std::size_t prefix = fdt::PrefixSize(flags);
    if (Left() < prefix) return false;
    n = prefix == 2 ? ReadLE16(p) : *p;
    p += prefix;
    return Left() >= n;
  }

  // The value of a single or list field; false when it does not fit.
  bool TakeValue(const fdt::FieldInfo& field, fdt::FieldView& value) {
    if (field.kind == fdt::kKindSingle) {
      std::size_t n = field.width;
      if (field.flags & fdt::kFieldFixed) {
        if (Left() < n) return false;
      } else if (!TakePrefix(field.flags, n)) {
        return false;
      }
      value = {true, field.kind, p, n, 0};
      p += n;
      return true;
    }
    const std::size_t count_size = field.kind == fdt::kKindList8 ? 1 : 2;
    if (Left() < count_size) return false;
    const std::uint32_t count = count_size == 1 ? *p : ReadLE16(p);
    p += count_size;
    const std::uint8_t* first = p;
    for (std::uint32_t k = 0; k < count; ++k) {
      std::size_t n = 0;
      if (!TakePrefix(field.flags, n)) return false;
      p += n;
    }
    value = {true, field.kind, first, std::size_t(p - first), count};
    return true;
  }
};

// The presence bits of a bitmap record, the most significant bit first.
struct PresenceBits {
  bool used = false;
  const std::uint8_t* next = nullptr;
  std::size_t left = 0;
  std::uint8_t bits = 0;

  // False when no bit is left: this field and all after it are absent.
  bool Take(bool& present) {
    if (left % 8 == 0) {
      if (left == 0) return false;
      bits = *next++;
    }
    present = (bits & 0x80) != 0;
    bits = static_cast<std::uint8_t>(bits << 1);
    --left;
    return true;
  }
  // Only clear bits remain, in the current byte and none after it.
  [[nodiscard]] bool RestAbsent() const { return bits == 0 && left < 8; }
};

}  // namespace

namespace fdt {

int CompareForward(const std::uint8_t* entry, const std::uint8_t* key, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (entry[i] != key[i]) return entry[i] < key[i] ? -1 : 1;
  }
  return 0;
}

int CompareBackward(const std::uint8_t* entry, const std::uint8_t* key, std::size_t n) {
  for (std::size_t i = n; i-- > 0;) {
    if (entry[i] != key[i]) return entry[i] < key[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace fdt

void SetFdtCallbackObject(FDT* object) { g_callback_object = object; }

const char* FDT::EmptyText() { return kEmptyText; }

FDT::FDT() = default;

FDT::~FDT() {
  FDT::FreeStru();
  (void)CloseFiles(fdt::kOpenAll);
  data_path_.clear();
  index_path_.clear();
}

int FDT::CallbackFunc(std::uint32_t /*value1*/, std::uint32_t /*value2*/, const char* text) {
  if (text == nullptr) return 1;
  return os::AskOkCancel(text, "") ? 1 : 0;
}

void FDT::FreeStru() { DropStructure(); }

void FDT::DropStructure() {
  (void)CloseFiles(fdt::kOpenAll);
  list_chain_.reset();
  list_count_ = 0;
  ResetBuffers();
  descriptors_.clear();
  record_.clear();
  record_size_ = 0;
  header_.reset();
  descriptions_.clear();
  field_names_.clear();
  data_length_ = 0;
  index_length_ = 0;
  field_count_ = 0;
}

void FDT::ResetBuffers() {
  if (record_.empty()) return;
  std::fill(record_.begin(), record_.end(), std::uint8_t{0});
  record_size_ = 0;
}

std::uint16_t FDT::HeaderLength() const { return header_ ? ReadLE16(header_.get()) : 0; }
std::uint16_t FDT::MaxRecordLength() const {
  return header_ ? ReadLE16(header_.get() + fdt::kOffMaxRecord) : 0;
}
std::uint16_t FDT::EntryLength() const {
  return header_ ? ReadLE16(header_.get() + fdt::kOffEntryLength) : 0;
}
std::uint32_t FDT::TableFlags() const {
  return header_ ? ReadLE32(header_.get() + fdt::kOffTableFlags) : 0;
}

fdt::FieldInfo FDT::Field(std::int16_t index) const {
  fdt::FieldInfo info;
  if (index < 0 || index >= field_count_) return info;
  const std::uint8_t* d = Descriptor(static_cast<std::size_t>(index));
  info.name = TextAt(d + fdt::kOffDescName, fdt::kFieldNameLength);
  info.width = ReadLE16(d + fdt::kOffDescWidth);
  info.max_occurs = ReadLE16(d + fdt::kOffDescMaxOccurs);
  info.kind = ReadLE16(d + fdt::kOffDescKind);
  info.members = ReadLE16(d + fdt::kOffDescMembers);
  info.flags = ReadLE16(d + fdt::kOffDescFlags);
  return info;
}

// ---------------------------------------------------------------- structure

bool FDT::NewStru(const std::string& path, std::string& data_name, std::string& index_name) {
  if (header_) DropStructure();  // never mix two structures
  field_count_ = 0;
  structure_path_ = path;
  os::File file;
  if (file.Open(path, os::OpenMode::kReadDenyWrite).ok()) {
    std::uint64_t file_length = 0;
    if (!file.Length(file_length).ok()) file_length = 0;
    if (!ReadHeader(file, file_length) || !SizeRecordBuffer() || !ReadFieldTexts(file)) {
      os::DebugOutput(kReadErrorText);
      DropStructure();
    }
  }
  data_pos_ = 0;
  if (!header_) {
    data_name.clear();
    index_name.clear();
    field_count_ = 0;
    return false;
  }
  data_name = TextAt(header_.get() + fdt::kOffDataName, fdt::kFileNameSize);
  index_name = TextAt(header_.get() + fdt::kOffIndexName, fdt::kFileNameSize);
  return true;
}

bool FDT::ReadHeader(os::File& file, std::uint64_t file_length) {
  std::uint16_t header_length = 0;
  if (!ReadU16(file, header_length) || header_length < fdt::kMinHeaderLength) return false;
  const std::size_t header_size = std::size_t{header_length} + fdt::kHeaderLengthField;
  header_ = std::make_unique<std::uint8_t[]>(header_size);
  WriteLE16(header_.get(), header_length);
  if (!ReadExact(file, header_.get() + fdt::kHeaderLengthField, header_length)) return false;

  const auto count = static_cast<std::int16_t>(ReadLE16(header_.get() + fdt::kOffFieldCount));
  if (count < 0) return false;
  const std::size_t descriptor_bytes = std::size_t(count) * fdt::kDescriptorSize;
  if (header_size + descriptor_bytes > file_length) return false;  // no allocation for a lie
  descriptors_.resize(descriptor_bytes);
  if (!ReadExact(file, descriptors_.data(), descriptor_bytes)) return false;
  field_count_ = count;
  return true;
}

bool FDT::SizeRecordBuffer() {
  const auto count = static_cast<std::size_t>(field_count_);
  WriteLE16(header_.get() + fdt::kOffMaxRecord, 0);
  // RecordLength reads the kinds as stored, before members are rewritten.
  std::size_t max_record = RunSize(0, count);
  if (max_record == std::numeric_limits<std::size_t>::max()) return false;
  if (TableFlags() & fdt::kFlagBitmap) {
    std::size_t top_level = 0;
    for (std::size_t i = 0; i < count; ++i, ++top_level) {
      const std::uint8_t* d = Descriptor(i);
      if (ReadLE16(d + fdt::kOffDescKind) == fdt::kKindGroup) {
        i += std::min<std::size_t>(ReadLE16(d + fdt::kOffDescMembers), count - i - 1);
      }
    }
    max_record = SatAdd(max_record, top_level / 8 + 2);
  }
  const auto stored = static_cast<std::uint16_t>(std::min(max_record, kSizeCap));
  WriteLE16(header_.get() + fdt::kOffMaxRecord, stored);
  record_.assign(std::size_t{stored} + fdt::kRecordSlack, 0);
  record_size_ = 0;
  return true;
}

bool FDT::ReadFieldTexts(os::File& file) {
  const auto count = static_cast<std::size_t>(field_count_);
  field_names_.clear();
  descriptions_.assign(count, std::string());
  std::uint16_t aux_length = 0;
  if (!ReadU16(file, aux_length) || !file.Seek(aux_length, os::SeekFrom::kCurrent).ok()) return false;

  std::size_t members_left = 0;
  bool read_failed = false;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* d = descriptors_.data() + i * fdt::kDescriptorSize;
    if (i > 0) field_names_ += '|';
    field_names_ += TextAt(d + fdt::kOffDescName, fdt::kFieldNameLength);
    const std::uint16_t kind = ReadLE16(d + fdt::kOffDescKind);
    if (kind == fdt::kKindGroup) {
      members_left = ReadLE16(d + fdt::kOffDescMembers);
    } else if (members_left > 0) {
      --members_left;
      if (kind == fdt::kKindList8) WriteLE16(d + fdt::kOffDescKind, fdt::kKindMemberList8);
      if (kind == fdt::kKindSingle) WriteLE16(d + fdt::kOffDescKind, fdt::kKindMemberSingle);
      if (kind == fdt::kKindList16) WriteLE16(d + fdt::kOffDescKind, fdt::kKindMemberList16);
    }
    // A damaged description only costs that field (and, at the end of the
    // file, the ones after it) its text; the message is written once.
    if (read_failed) continue;
    read_failed = !ReadDescription(file, descriptions_[i]);
    if (read_failed) os::DebugOutput(kReadErrorText);
  }
  return true;
}

bool FDT::ReadDescription(os::File& file, std::string& description) {
  std::uint16_t length = 0;
  std::uint64_t after_length = 0;
  if (!ReadU16(file, length) || !file.Tell(after_length).ok()) return false;
  if (length == 0) return true;
  std::uint8_t text[fdt::kDescriptionRead];
  const std::size_t want = std::min<std::size_t>(length, fdt::kDescriptionRead);
  const bool read = ReadExact(file, text, want);
  if (read) description = TextAt(text, std::min(want, fdt::kMaxDescription));
  return file.Seek(static_cast<std::int64_t>(after_length + length), os::SeekFrom::kBegin).ok() && read;
}

// Size of a run of descriptors (RecordLength). Returns SIZE_MAX when groups
// nest deeper than kMaxGroupDepth.
std::size_t FDT::RunSize(std::size_t first, std::size_t n) const {
  struct Walker {
    const FDT& fdt;
    std::size_t Run(std::size_t first, std::size_t n, int depth) const {
      if (depth > kMaxGroupDepth) return std::numeric_limits<std::size_t>::max();
      std::size_t total = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* d = fdt.Descriptor(first + i);
        const std::size_t width = ReadLE16(d + fdt::kOffDescWidth);
        const std::size_t occurs = ReadLE16(d + fdt::kOffDescMaxOccurs);
        const std::uint16_t kind = ReadLE16(d + fdt::kOffDescKind);
        const std::uint16_t flags = ReadLE16(d + fdt::kOffDescFlags);
        if (kind != fdt::kKindGroup && (flags & fdt::kFieldFixed) == 0) {
          total = SatAdd(total, fdt::PrefixSize(flags));
        }
        switch (kind) {
          case fdt::kKindSingle: total = SatAdd(total, width); break;
          case fdt::kKindList8: total = SatAdd(total, SatAdd(SatMul(occurs, width), 1)); break;
          case fdt::kKindList16: total = SatAdd(total, SatAdd(SatMul(occurs, width), 2)); break;
          case fdt::kKindGroup: {
            const std::size_t members =
                std::min<std::size_t>(ReadLE16(d + fdt::kOffDescMembers), n - i - 1);
            const std::size_t inner = Run(first + i + 1, members, depth + 1);
            if (inner == std::numeric_limits<std::size_t>::max()) return inner;
            total = SatAdd(total, SatAdd(1, SatMul(occurs, inner)));
            i += members;
            break;
          }
          default: break;
        }
      }
      return total;
    }
  };
  return Walker{*this}.Run(first, n, 0);
}

std::uint16_t FDT::FindField(std::string_view name, bool& found) const {
  // Whole names only: a bare substring match of the joined list could land
  // across two names.
  found = false;
  for (std::int16_t i = 0; i < field_count_; ++i) {
    if (TextAt(Descriptor(std::size_t(i)) + fdt::kOffDescName, fdt::kFieldNameLength) == name) {
      found = true;
      return static_cast<std::uint16_t>(i);
    }
  }
  return 0xFFFF;
}

// ---------------------------------------------------------------- files

bool FDT::SetFiles(const std::string& data_path, const std::string& index_path) {
  if (!header_) return false;
  std::uint32_t data_length = 0;
  std::uint32_t index_length = 0;
  if (!data_path.empty() && !MeasureFile(data_path, data_length)) return false;
  if (!index_path.empty() && !MeasureFile(index_path, index_length)) return false;
  if (!data_path.empty()) {
    data_path_ = data_path;
    data_length_ = data_length;
  }
  if (!index_path.empty()) {
    index_path_ = index_path;
    index_length_ = index_length;
  }
  return true;
}

bool FDT::ChangeFiles(const char* data_path, const char* index_path, int index_no) {
  std::uint32_t mask = fdt::kOpenData;
  if (index_path != nullptr && index_no >= 0 && index_no < 15) mask |= 1u << index_no;
  const std::uint32_t was_open = open_flags_;
  if (open_flags_ & mask) (void)CloseFiles(mask);  // failures leave them closed anyway
  ResetBuffers();
  if (!SetFiles(data_path ? data_path : "", index_path ? index_path : "")) return false;
  if (was_open & mask) (void)OpenFiles(was_open);  // the new pair is taken either way
  return true;
}

bool FDT::OpenFiles(std::uint32_t mask) {
  const std::uint32_t wanted = mask & (fdt::kOpenData | fdt::kOpenIndex);
  if ((open_flags_ & wanted) == wanted) return true;
  if (!(open_flags_ & fdt::kOpenData)) {
    if (!data_file_.Open(data_path_, os::OpenMode::kReadDenyWrite).ok()) return false;
    open_flags_ |= fdt::kOpenData;
    std::uint64_t length = 0;
    if (!data_file_.Length(length).ok() || length > std::numeric_limits<std::uint32_t>::max()) {
      (void)CloseFiles(fdt::kOpenData);
      return false;
    }
    data_length_ = static_cast<std::uint32_t>(length);
    if (data_pos_ < 0 || static_cast<std::uint32_t>(data_pos_) > data_length_) {
      data_pos_ = static_cast<std::int32_t>(std::min<std::uint32_t>(data_length_, INT32_MAX));
    }
    if (!data_file_.Seek(data_pos_, os::SeekFrom::kBegin).ok()) {
      (void)CloseFiles(fdt::kOpenData);
      return false;
    }
  }
  if (!(open_flags_ & fdt::kOpenIndex) && !index_path_.empty()) {
    std::uint64_t length = 0;
    if (!index_file_.Open(index_path_, os::OpenMode::kReadDenyWrite).ok() ||
        !index_file_.Length(length).ok()) {
      (void)index_file_.Close();
      (void)CloseFiles(mask & ~fdt::kOpenIndex);
      return false;
    }
    open_flags_ |= fdt::kOpenIndex;
    index_length_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(length, std::numeric_limits<std::uint32_t>::max()));
  }
  return true;
}

bool FDT::CloseFiles(std::uint32_t mask) {
  if ((open_flags_ & mask) == 0) return true;
  bool ok = true;
  if (open_flags_ & fdt::kOpenIndex) {
    ok = index_file_.Close().ok() && ok;
    open_flags_ &= ~fdt::kOpenIndex;
  }
  if (open_flags_ & fdt::kOpenData) {
    // The current data position is kept as it stands: every read seeks to it.
    ok = data_file_.Close().ok() && ok;
    open_flags_ &= ~fdt::kOpenData;
  }
  return ok;
}

bool FDT::ReadAt(os::File& file, std::uint64_t pos, void* data, std::size_t size) {
  return file.Seek(static_cast<std::int64_t>(pos), os::SeekFrom::kBegin).ok() &&
         ReadExact(file, data, size);
}

// ---------------------------------------------------------------- search

int FDT::Compare(const std::uint8_t* entry, const std::uint8_t* key, std::size_t n) const {
  return (TableFlags() & fdt::kFlagBackward) ? fdt::CompareBackward(entry, key, n)
                                             : fdt::CompareForward(entry, key, n);
}

bool FDT::Search(const void* key, std::int16_t key_length) {
  if (!header_ || key == nullptr || key_length <= 0) return false;
  if ((open_flags_ & (fdt::kOpenData | fdt::kOpenIndex)) != (fdt::kOpenData | fdt::kOpenIndex)) {
    return false;
  }
  const auto* key_bytes = static_cast<const std::uint8_t*>(key);
  std::uint32_t offset = 0;
  const bool found = (TableFlags() & fdt::kFlagTree)
                         ? TreeSearch(key_bytes, std::size_t(key_length), offset)
                         : ListSearch(key_bytes, std::size_t(key_length), offset);
  if (!found || offset > static_cast<std::uint32_t>(INT32_MAX)) return false;
  if (!data_file_.Seek(offset, os::SeekFrom::kBegin).ok()) return false;
  data_pos_ = static_cast<std::int32_t>(offset);
  return true;
}

bool FDT::ListSearch(const std::uint8_t* key, std::size_t n, std::uint32_t& offset) {
  const std::size_t entry_length = EntryLength();
  if (entry_length <= fdt::kEntryOffsetSize) return false;
  // Only key bytes are compared, whatever length the caller passed.
  n = std::min(n, entry_length - fdt::kEntryOffsetSize);
  if (index_length_ == 0 || index_length_ == 0xFFFFFFFF) return false;
  const std::int64_t count = index_length_ / entry_length;
  if (block_.size() < entry_length) block_.resize(entry_length);
  const bool nearest = (TableFlags() & fdt::kFlagNearest) != 0;
  bool have_candidate = false;
  std::uint32_t candidate = 0;
  std::int64_t lo = 0;
  std::int64_t hi = count - 1;
  while (lo <= hi) {
    const std::int64_t mid = (lo + hi) / 2;
    std::uint8_t* entry = block_.data();
    if (!ReadAt(index_file_, std::uint64_t(mid) * entry_length, entry, entry_length)) return false;
    const std::uint32_t entry_offset = ReadLE32(entry + entry_length - fdt::kEntryOffsetSize);
    const int c = Compare(entry, key, n);
    if (c == 0) {
      offset = entry_offset;
      return true;
    }
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (nearest) {
        candidate = entry_offset;
        have_candidate = true;
      }
    }
  }
  if (nearest && have_candidate) {
    offset = candidate;
    return true;
  }
  return false;
}

bool FDT::TreeSearch(const std::uint8_t* key, std::size_t n, std::uint32_t& offset) {
  std::uint8_t header[fdt::kTreeHeaderSize];
  if (!ReadAt(index_file_, 0, header, sizeof header)) return false;
  const std::size_t entry_length = ReadLE16(header + fdt::kOffTreeEntryLength);
  const std::uint32_t steps = ReadLE16(header + fdt::kOffTreeSteps);
  const std::uint32_t levels = ReadLE16(header + fdt::kOffTreeLevels);
  const std::size_t block_size = ReadLE16(header + fdt::kOffTreeBlockSize);
  const std::uint32_t start_step = ReadLE16(header + fdt::kOffTreeStartStep);
  const std::uint64_t start_pos = ReadLE16(header + fdt::kOffTreeStartPos);
  // Absurd headers end as not found; every entry read below is also checked
  // against the block, so the walk cannot leave the buffer or run forever.
  if (entry_length <= fdt::kEntryOffsetSize || block_size < entry_length ||
      levels > fdt::kMaxTreeLevels || start_step >= steps) {
    return false;
  }
  n = std::min(n, entry_length - fdt::kEntryOffsetSize);
  if (block_.size() < block_size) block_.resize(block_size);
  const bool nearest = (TableFlags() & fdt::kFlagNearest) != 0;

  std::uint64_t block = 0;
  std::uint32_t step = start_step;
  std::uint64_t p = start_pos;
  bool have_candidate = false;
  std::uint32_t candidate = 0;
  for (std::uint32_t level = 0; level < levels; ++level) {
    const std::uint64_t first =
        ReadLE32(header + fdt::kOffTreeLevelOffsets + 4 * std::size_t(level));
    const std::uint64_t pos = first + block_size * block;
    if (pos + block_size > index_length_) return false;
    if (!ReadAt(index_file_, pos, block_.data(), block_size)) return false;
    for (;;) {
      if (p + entry_length > block_size) return false;
      const std::uint8_t* entry = block_.data() + p;
      const std::uint32_t entry_offset = ReadLE32(entry + entry_length - fdt::kEntryOffsetSize);
      const int c = Compare(entry, key, n);
      if (c == 0) {
        offset = entry_offset;
        return true;
      }
      if (c < 0) {
        block = 2 * block + 1;
        p = 2 * (p + entry_length);
      } else {
        candidate = entry_offset;
        have_candidate = true;
        block = 2 * block;
        p = 2 * p + entry_length;
      }
      if (block > kMaxBlockNumber) return false;
      if (++step >= steps) break;
    }
    step = 0;
    p = 0;
  }
  if (nearest && have_candidate) {
    offset = candidate;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- records

bool FDT::ReadRecord() {
  record_size_ = 0;
  if (!header_ || !(open_flags_ & fdt::kOpenData) || data_pos_ < 0) return false;
  std::uint8_t length_bytes[2];
  if (!ReadAt(data_file_, std::uint64_t(data_pos_), length_bytes, sizeof length_bytes)) return false;
  const std::uint16_t length = ReadLE16(length_bytes);
  if (length > MaxRecordLength()) return false;
  std::size_t got = 0;
  const bool ok = data_file_.Read(record_.data(), length, got).ok();
  data_pos_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(std::int64_t{data_pos_} + std::int64_t(got) + 2, INT32_MAX));
  if (!ok || got < length) return false;
  record_size_ = length;
  return true;
}

bool FDT::ViewField(std::int16_t index, fdt::FieldView& view) const {
  view = fdt::FieldView{};
  if (!header_ || index < 0 || index >= field_count_) return false;
  RecordCursor at{record_.data(), record_.data() + record_size_};
  PresenceBits presence;
  if (TableFlags() & fdt::kFlagBitmap) {
    if (at.Left() == 0) return false;
    const std::size_t bitmap_bytes = *at.p++;
    if (bitmap_bytes > at.Left()) return false;
    presence = {true, at.p, 8 * bitmap_bytes, 0};
    at.p += bitmap_bytes;
  }
  for (std::int16_t i = 0; i <= index; ++i) {
    const fdt::FieldInfo field = Field(i);
    if (presence.used) {
      bool present = false;
      if (!presence.Take(present)) return true;  // no bit: absent
      if (!present) {
        if (i == index || presence.RestAbsent()) return true;  // absent
        continue;
      }
    }
    switch (field.kind) {
      case fdt::kKindSingle:
      case fdt::kKindList8:
      case fdt::kKindList16: {
        fdt::FieldView value;
        if (!at.TakeValue(field, value)) return false;
        if (i == index) {
          view = value;
          return true;
        }
        break;
      }
      case fdt::kKindGroup:
        // The reader cannot size a present group's values; anything behind
        // it would be read from the wrong bytes, so it counts as unreadable.
        return false;
      default:
        // Group members and unknown kinds take no bytes and give no value.
        if (i == index) return false;
        break;
    }
  }
  return false;
}

const char* FDT::GetField(std::int16_t index) {
  list_count_ = 0;
  if (!ReadRecord()) return kEmptyText;
  fdt::FieldView view;
  if (!ViewField(index, view) || !view.present) return kEmptyText;
  const fdt::FieldInfo field = Field(index);
  if (view.kind == fdt::kKindSingle) {
    if (field.flags & fdt::kFieldFixed) return kEmptyText;
    // The buffer has slack behind the longest record for this NUL.
    std::uint8_t* value = record_.data() + (view.bytes - record_.data());
    value[view.size] = 0;
    return reinterpret_cast<const char*>(value);
  }
  return ReadList(view, field.max_occurs, field.flags);
}

const char* FDT::ReadList(const fdt::FieldView& view, std::uint16_t max_occurs, std::uint16_t flags) {
  // A count above the maximum marks a damaged record: rejected, not cut.
  if (view.count == 0 || view.count > max_occurs) return kEmptyText;
  if (!list_chain_) list_chain_ = std::make_unique<ListNode>();
  ListNode& node = *list_chain_;
  if (node.lengths.size() < max_occurs) node.lengths.resize(max_occurs);
  if (node.elements.size() < std::size_t{max_occurs} + 2) node.elements.resize(std::size_t{max_occurs} + 2);
  const std::size_t prefix = fdt::PrefixSize(flags);
  std::uint8_t* p = record_.data() + (view.bytes - record_.data());
  for (std::uint32_t k = 0; k < view.count; ++k) {
    const std::uint16_t n = prefix == 2 ? ReadLE16(p) : *p;
    *p = 0;  // ends the previous element's text
    node.elements[k] = reinterpret_cast<const char*>(p + prefix);
    node.lengths[k] = n;
    p += prefix + n;
  }
  *p = 0;
  node.elements[view.count] = nullptr;
  list_count_ = view.count;
  return kEmptyText;
}

const char* FDT::ListElement(std::uint32_t i) const {
  if (i >= list_count_ || !list_chain_) return kEmptyText;
  return list_chain_->elements[i];
}

std::uint16_t FDT::ListElementLength(std::uint32_t i) const {
  if (i >= list_count_ || !list_chain_) return 0;
  return list_chain_->lengths[i];
}

}  // namespace veupd

VEUPD_EXPORT int FDT_CallbackFunc(std::uint32_t value1, std::uint32_t value2, const char* text) {
  if (veupd::g_callback_object != nullptr) {
    return veupd::g_callback_object->CallbackFunc(value1, value2, text);
  }
  if (text == nullptr) return 1;
  return veupd::os::AskOkCancel(text, "") ? 1 : 0;
}
