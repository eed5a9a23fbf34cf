// Index building: one sequential pass over the data file, a sort of the keys
// and a sequential write of the chosen index form.
#include "tables/fdt_index_builder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <cstring>
#include <limits>

namespace veupd::fdt {
namespace {

constexpr std::size_t kReadChunk = 1 << 17;  // small enough that the records are still in the cache when scanned
constexpr std::size_t kWriteChunk = 1 << 20;
constexpr std::size_t kRecordLengthSize = 2;
constexpr std::size_t kTypicalRecordSize = 32;
constexpr std::size_t kMaxSteps = 15;  // keeps byte positions inside a u16 block
constexpr char kTempSuffix[] = "$P$";

}  // namespace

bool ParamsFromStructure(const FDT& table, IndexParams& params) {
  if (!table.IsLoaded() || table.EntryLength() <= kEntryOffsetSize) return false;
  params.entry_length = table.EntryLength();
  params.table_flags = table.TableFlags();
  params.max_record_length = table.MaxRecordLength();
  return true;
}

namespace {

// The data file's bytes in order: read piece by piece, or all at once from a
// view of the file.
class RecordSource {
 public:
  explicit RecordSource(os::File& file) : file_(&file), buffer_(kReadChunk + 0x10000 + kRecordLengthSize) {
    data_ = buffer_.data();
  }
  RecordSource(const std::uint8_t* data, std::size_t size) : data_(data), end_(size), at_eof_(true) {}

  // At least `need` bytes at Current(); false at the end of the file (then
  // AtEof()) or on a read error.
  bool Fill(std::size_t need) {
    if (end_ - begin_ >= need || at_eof_) return end_ - begin_ >= need;
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    base_ += begin_;
    end_ -= begin_;
    begin_ = 0;
    while (end_ < need && !at_eof_) {
      std::size_t got = 0;
      const std::size_t room = std::min(kReadChunk, buffer_.size() - end_);
      if (!file_->Read(buffer_.data() + end_, room, got).ok()) return false;
      if (got == 0) at_eof_ = true;
      end_ += got;
    }
    return end_ >= need;
  }
  [[nodiscard]] const std::uint8_t* Current() const { return data_ + begin_; }
  [[nodiscard]] std::uint64_t Offset() const { return base_ + begin_; }
  [[nodiscard]] bool AtEof() const { return at_eof_; }
  [[nodiscard]] bool Empty() const { return begin_ == end_; }
  void Skip(std::size_t n) { begin_ += n; }

 private:
  os::File* file_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  const std::uint8_t* data_ = nullptr;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t base_ = 0;  // file offset of data_[0]
  bool at_eof_ = false;
};

// Records between two looks at a view's lost-page flag: zero pages would
// otherwise read as millions of empty records.
constexpr std::uint32_t kRecordsPerDamageCheck = 4096;
constexpr std::size_t kPrefetchDistance = 4096;  // measured best of 1 to 8 KiB

IndexResult WalkRecords(RecordSource& source, const IndexParams& params, IndexEntries& entries,
                        const os::MappedView* view) {
  const std::size_t key_length = params.entry_length - kEntryOffsetSize;
  const bool bitmap = (params.table_flags & kFlagBitmap) != 0;
  std::vector<std::uint8_t> short_key(key_length);  // records shorter than the key
  for (std::uint32_t n = 1;; ++n) {
    if (view != nullptr && n % kRecordsPerDamageCheck == 0 && view->Damaged()) return IndexResult::kDataUnreadable;
    if (!source.Fill(kRecordLengthSize)) {
      if (source.Empty() && source.AtEof()) return IndexResult::kOk;
      return source.AtEof() ? IndexResult::kDataDamaged : IndexResult::kDataUnreadable;
    }
    // The next record's place depends on this one's length, so the records
    // are fetched one after another unless asked for ahead.
    __builtin_prefetch(source.Current() + kPrefetchDistance);
    const std::size_t record_length = ReadLE16(source.Current());
    if (record_length > params.max_record_length) return IndexResult::kDataDamaged;
    if (!source.Fill(kRecordLengthSize + record_length)) {
      return source.AtEof() ? IndexResult::kDataDamaged : IndexResult::kDataUnreadable;
    }
    const std::uint8_t* content = source.Current() + kRecordLengthSize;
    std::size_t value_start = 0;
    if (bitmap && record_length > 0) {
      value_start = 1 + std::size_t{content[0]};
      if (value_start > record_length) return IndexResult::kDataDamaged;
    }
    const std::size_t copy = std::min(record_length - value_start, key_length);
    const auto offset = static_cast<std::uint32_t>(source.Offset());
    if (copy == key_length) {
      entries.Add(content + value_start, offset);
    } else {
      std::memcpy(short_key.data(), content + value_start, copy);
      std::memset(short_key.data() + copy, 0, key_length - copy);
      entries.Add(short_key.data(), offset);
    }
    source.Skip(kRecordLengthSize + record_length);
  }
}

}  // namespace

IndexResult CollectEntries(const std::string& data_path, const IndexParams& params,
                           IndexEntries& entries) {
  entries.Reset(params.entry_length, (params.table_flags & kFlagBackward) != 0);
  os::File file;
  std::uint64_t file_length = 0;
  if (!file.Open(data_path, os::OpenMode::kReadDenyWrite).ok() || !file.Length(file_length).ok() ||
      file_length > std::numeric_limits<std::uint32_t>::max()) {
    return IndexResult::kDataUnreadable;
  }
  // Room for records of 32 bytes on average; smaller ones grow the array.
  entries.Reserve(static_cast<std::size_t>(file_length / kTypicalRecordSize) + 1);
  // A view spares copying the file out of the page cache, which costs as
  // much as the rest of the build; where there is none, the file is read.
  os::MappedView view;
  if (file_length > 0 && view.Map(file, file_length).ok()) {
    RecordSource source(view.Data(), view.Size());
    const IndexResult result = WalkRecords(source, params, entries, &view);
    return view.Damaged() ? IndexResult::kDataUnreadable : result;
  }
  RecordSource source(file);
  return WalkRecords(source, params, entries, nullptr);
}

void IndexEntries::Reset(std::size_t entry_length, bool backward) {
  entry_length_ = entry_length;
  key_length_ = entry_length - kEntryOffsetSize;
  backward_ = backward;
  packed_mode_ = key_length_ <= kMaxPackedKey;
  any_bits_ = 0;
  all_bits_ = ~std::uint64_t{0};
  in_order_ = true;
  packed_.clear();
  flat_.clear();
}

void IndexEntries::Reserve(std::size_t count) {
  if (packed_mode_) {
    packed_.reserve(count);
  } else {
    flat_.reserve(count * entry_length_);
  }
}

int IndexEntries::CompareFlat(std::size_t a, std::size_t b) const {
  const std::uint8_t* x = flat_.data() + a * entry_length_;
  const std::uint8_t* y = flat_.data() + b * entry_length_;
  return backward_ ? CompareBackward(x, y, key_length_) : CompareForward(x, y, key_length_);
}

namespace {

// Stable LSD radix passes over key bits [low, high) of n values, from `from`
// into `out`, with `spare` (n values) for intermediate passes; `from` may be
// overwritten. Digits of at most max_digit_bits, histograms of all digits
// from one pass.
void RadixPasses(std::uint64_t* from, std::uint64_t* spare, std::uint64_t* out, std::size_t n, unsigned low,
                 unsigned high, unsigned max_digit_bits, std::vector<std::uint32_t>& counts) {
  if (high <= low) {  // nothing left to sort by
    if (from != out) std::memcpy(out, from, n * sizeof(std::uint64_t));
    return;
  }
  const unsigned digits = (high - low + max_digit_bits - 1) / max_digit_bits;
  const unsigned bits = (high - low + digits - 1) / digits;
  const std::size_t buckets = std::size_t{1} << bits;
  const std::uint64_t mask = buckets - 1;
  counts.assign(buckets * digits, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t value = from[i];
    for (unsigned d = 0; d < digits; ++d) ++counts[d * buckets + ((value >> (low + d * bits)) & mask)];
  }
  std::uint64_t* const input = from;
  for (unsigned d = 0; d < digits; ++d) {
    // Passes alternate between spare and input; the last one lands in `out`
    // when that is a third array.
    std::uint64_t* to = (input != out && d + 1 == digits) ? out : (d % 2 == 0 ? spare : input);
    std::uint32_t* starts = counts.data() + d * buckets;
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < buckets; ++k) {
      const std::uint32_t c = starts[k];
      starts[k] = sum;
      sum += c;
    }
    const unsigned shift = low + d * bits;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t value = from[i];
      to[starts[(value >> shift) & mask]++] = value;
    }
    from = to;
  }
  if (from != out) std::memcpy(out, from, n * sizeof(std::uint64_t));
}

}  // namespace

void IndexEntries::SortPacked() {
  // Radix sort over the key bits that differ between entries only (a table
  // of 900,000 numbered texts has 20 of them). Scattering the whole array
  // per digit misses the cache and the TLB on every entry, so one pass
  // scatters by the top bits into buckets of a few thousand entries, and
  // each bucket is then sorted by the remaining bits while it sits in the
  // cache. Entries are distinct (the offset is part of the value), so the
  // order is fully determined: equal keys keep file order.
  const std::size_t count = packed_.size();
  constexpr unsigned kKeyShift = 32;  // offsets take the low 32 bits
  const std::uint64_t varying = (any_bits_ ^ all_bits_) >> kKeyShift;
  if (varying == 0) return;  // one key: file order is the order
  const unsigned low = kKeyShift + static_cast<unsigned>(std::countr_zero(varying));
  const unsigned high = 64 + kKeyShift - static_cast<unsigned>(std::countl_zero(varying));  // exclusive
  std::unique_ptr<std::uint64_t[]> scratch(new std::uint64_t[count]);  // every element is written
  std::vector<std::uint32_t> counts;
  // Aim for buckets of about 2,048 entries (16 KiB), at most 256 of them.
  constexpr std::size_t kBucketTarget = 2048;
  constexpr unsigned kMaxTopBits = 8;
  constexpr unsigned kInnerDigitBits = 12;  // one pass for the usual rest; a bucket's counts stay in the cache
  unsigned top_bits = 0;
  while (top_bits < kMaxTopBits && (count >> top_bits) > kBucketTarget) ++top_bits;
  top_bits = std::min(top_bits, high - low);
  if (top_bits == 0 || high - low <= kMaxTopBits) {
    RadixPasses(packed_.data(), scratch.get(), packed_.data(), count, low, high, kMaxTopBits, counts);
    return;
  }
  const unsigned shift = high - top_bits;
  const std::size_t buckets = std::size_t{1} << top_bits;
  const std::uint64_t mask = buckets - 1;
  std::vector<std::uint32_t> starts(buckets + 1, 0);
  for (const std::uint64_t value : packed_) ++starts[((value >> shift) & mask) + 1];
  std::uint32_t largest = 0;
  for (std::size_t k = 0; k < buckets; ++k) {
    largest = std::max(largest, starts[k + 1]);
    starts[k + 1] += starts[k];
  }
  std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
  for (const std::uint64_t value : packed_) scratch[next[(value >> shift) & mask]++] = value;
  std::unique_ptr<std::uint64_t[]> spare(new std::uint64_t[largest]);
  for (std::size_t k = 0; k < buckets; ++k) {
    const std::size_t first = starts[k];
    const std::size_t n = starts[k + 1] - first;
    if (n > 1) {
      RadixPasses(scratch.get() + first, spare.get(), packed_.data() + first, n, low, shift, kInnerDigitBits, counts);
    } else if (n == 1) {
      packed_[first] = scratch[first];
    }
  }
}

void IndexEntries::Sort() {
  const std::size_t count = Count();
  if (count < 2) return;
  if (packed_mode_) {
    // Tables are often written in key order already: then nothing moves.
    if (in_order_) return;
    SortPacked();
    return;
  }
  bool sorted = true;
  for (std::size_t i = 1; i < count && sorted; ++i) sorted = CompareFlat(i - 1, i) <= 0;
  if (sorted) return;
  std::vector<std::uint32_t> order(count);
  for (std::size_t i = 0; i < count; ++i) order[i] = static_cast<std::uint32_t>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return CompareFlat(a, b) < 0; });
  std::vector<std::uint8_t> out(flat_.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(out.data() + i * entry_length_, flat_.data() + std::size_t{order[i]} * entry_length_, entry_length_);
  }
  flat_.swap(out);
}

bool PlanTree(std::size_t count, std::size_t entry_length, TreeLayout& layout) {
  layout = TreeLayout{};
  if (entry_length <= kEntryOffsetSize || entry_length > 0xFFFF) return false;
  std::uint32_t steps = 1;
  while (steps < kMaxSteps && ((std::size_t{2} << steps) - 1) * entry_length <= kTargetBlockSize) {
    ++steps;
  }
  layout.steps = steps;
  layout.block_size = static_cast<std::uint32_t>(((std::size_t{1} << steps) - 1) * entry_length);
  std::uint32_t depth = 0;
  while (depth < 64 && ((std::uint64_t{1} << depth) - 1) < count) ++depth;
  layout.depth = depth;
  if (depth == 0) {
    layout.file_size = kTreeHeaderSize;
    return true;
  }
  layout.levels = (depth + steps - 1) / steps;
  if (layout.levels > kMaxTreeLevels) return false;
  const std::uint32_t first_steps = depth - (layout.levels - 1) * steps;
  layout.start_step = steps - first_steps;
  layout.start_pos = static_cast<std::uint32_t>(((std::size_t{1} << layout.start_step) - 1) * entry_length);
  std::uint64_t offset = kTreeHeaderSize;
  for (std::uint32_t level = 0; level < layout.levels; ++level) {
    if (offset > std::numeric_limits<std::uint32_t>::max()) return false;
    layout.level_offsets[level] = static_cast<std::uint32_t>(offset);
    const std::uint32_t before = level == 0 ? 0 : first_steps + (level - 1) * steps;
    if (before >= 32) return false;
    offset += (std::uint64_t{1} << before) * layout.block_size;
  }
  if (offset > std::numeric_limits<std::uint32_t>::max()) return false;
  layout.file_size = offset;
  return true;
}

bool WriteListIndex(os::File& file, const IndexEntries& sorted) {
  const std::size_t count = sorted.Count();
  const std::size_t entry_length = sorted.EntryLength();
  const std::size_t per_write = std::max<std::size_t>(1, kWriteChunk / entry_length);
  std::vector<std::uint8_t> chunk(std::min(count, per_write) * entry_length);
  for (std::size_t first = 0; first < count; first += per_write) {
    const std::size_t n = std::min(per_write, count - first);
    for (std::size_t i = 0; i < n; ++i) sorted.CopyEntry(first + i, chunk.data() + i * entry_length);
    if (!file.Write(chunk.data(), n * entry_length).ok()) return false;
  }
  return true;
}

bool WriteTreeIndex(os::File& file, const IndexEntries& sorted) {
  const std::size_t count = sorted.Count();
  const std::size_t entry_length = sorted.EntryLength();
  TreeLayout layout;
  if (!PlanTree(count, entry_length, layout)) return false;

  std::uint8_t header[kTreeHeaderSize] = {};
  WriteLE16(header + kOffTreeEntryLength, static_cast<std::uint16_t>(entry_length));
  WriteLE16(header + kOffTreeSteps, static_cast<std::uint16_t>(layout.steps));
  WriteLE16(header + kOffTreeLevels, static_cast<std::uint16_t>(layout.levels));
  WriteLE16(header + kOffTreeBlockSize, static_cast<std::uint16_t>(layout.block_size));
  WriteLE16(header + kOffTreeStartStep, static_cast<std::uint16_t>(layout.start_step));
  WriteLE16(header + kOffTreeStartPos, static_cast<std::uint16_t>(layout.start_pos));
  for (std::size_t level = 0; level < kMaxTreeLevels; ++level) {
    WriteLE32(header + kOffTreeLevelOffsets + 4 * level, layout.level_offsets[level]);
  }
  if (!file.Write(header, sizeof header).ok()) return false;

  // The node at absolute depth t with path bits b (b < 2^t) is in-order
  // position (2b + 1) * 2^(depth - t - 1) - 1 of the complete tree; past the
  // last entry the last entry repeats.
  auto entry_for = [&](std::uint32_t t, std::uint64_t b) {
    const std::uint64_t position = ((2 * b + 1) << (layout.depth - t - 1)) - 1;
    return static_cast<std::size_t>(std::min<std::uint64_t>(position, count - 1));
  };
  // Blocks are gathered into larger writes.
  const std::size_t blocks_per_write = std::max<std::size_t>(1, kWriteChunk / layout.block_size);
  std::vector<std::uint8_t> pending(blocks_per_write * layout.block_size);
  std::size_t pending_blocks = 0;
  auto flush = [&] {
    const bool ok = pending_blocks == 0 || file.Write(pending.data(), pending_blocks * layout.block_size).ok();
    pending_blocks = 0;
    return ok;
  };
  const std::uint32_t first_steps = layout.steps - layout.start_step;
  for (std::uint32_t level = 0; level < layout.levels; ++level) {
    const std::uint32_t before = level == 0 ? 0 : first_steps + (level - 1) * layout.steps;
    const std::uint32_t block_depth = level == 0 ? first_steps : layout.steps;
    const std::uint32_t skip = level == 0 ? layout.start_step : 0;  // heap depth of the entry node
    const std::uint64_t blocks = std::uint64_t{1} << before;
    for (std::uint64_t q = 0; q < blocks; ++q) {
      std::uint8_t* block = pending.data() + pending_blocks * layout.block_size;
      std::fill(block, block + layout.block_size, std::uint8_t{0});
      for (std::uint32_t j = 0; j < block_depth; ++j) {
        const std::uint64_t row_start = (std::uint64_t{1} << (skip + j)) - 1;  // heap index
        for (std::uint64_t c = 0; c < (std::uint64_t{1} << j); ++c) {
          sorted.CopyEntry(entry_for(before + j, (q << j) + c), block + (row_start + c) * entry_length);
        }
      }
      if (++pending_blocks == blocks_per_write && !flush()) return false;
    }
  }
  return flush();
}

IndexResult WriteIndexFile(const std::string& index_path, const IndexEntries& sorted,
                           std::uint32_t table_flags) {
  const std::string temp_path = index_path + kTempSuffix;
  os::File file;
  if (!file.Open(temp_path, os::OpenMode::kCreateTruncate).ok()) return IndexResult::kIndexUnwritable;
  const bool written = (table_flags & kFlagTree) ? WriteTreeIndex(file, sorted) : WriteListIndex(file, sorted);
  const bool closed = file.Flush().ok() && file.Close().ok();
  if (!written || !closed || !os::MoveReplace(temp_path, index_path).ok()) {
    (void)os::RemoveFile(temp_path);  // best effort; the index itself is untouched
    return IndexResult::kIndexUnwritable;
  }
  return IndexResult::kOk;
}

IndexResult BuildIndex(const std::string& structure_path, const std::string& data_path,
                       const std::string& index_path) {
  IndexParams params;
  {
    FDT table;
    std::string data_name;
    std::string index_name;
    if (!table.NewStru(structure_path, data_name, index_name) || !ParamsFromStructure(table, params)) {
      return IndexResult::kNoStructure;
    }
  }
  IndexEntries entries;
  if (const IndexResult result = CollectEntries(data_path, params, entries); result != IndexResult::kOk) {
    return result;
  }
  entries.Sort();
  return WriteIndexFile(index_path, entries, params.table_flags);
}

}  // namespace veupd::fdt
