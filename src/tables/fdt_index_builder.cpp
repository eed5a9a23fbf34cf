// Index building: one sequential pass over the data file, a sort of the keys
// and a sequential write of the chosen index form.
#include "tables/fdt_index_builder.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace veupd::fdt {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kRecordLengthSize = 2;
constexpr std::size_t kMaxSteps = 15;  // keeps byte positions inside a u16 block
constexpr char kTempSuffix[] = "$P$";

struct SortKey {
  std::uint64_t prefix;  // the first 8 compared bytes, most significant first
  std::uint32_t seq;     // file order, for stability and the full comparison
};

}  // namespace

bool ParamsFromStructure(const FDT& table, IndexParams& params) {
  if (!table.IsLoaded() || table.EntryLength() <= kEntryOffsetSize) return false;
  params.entry_length = table.EntryLength();
  params.table_flags = table.TableFlags();
  params.max_record_length = table.MaxRecordLength();
  return true;
}

IndexResult CollectEntries(const std::string& data_path, const IndexParams& params,
                           IndexEntries& entries) {
  const std::size_t entry_length = params.entry_length;
  const std::size_t key_length = entry_length - kEntryOffsetSize;
  entries.entry_length = entry_length;
  entries.bytes.clear();
  os::File file;
  std::uint64_t file_length = 0;
  if (!file.Open(data_path, os::OpenMode::kReadDenyWrite).ok() || !file.Length(file_length).ok() ||
      file_length > std::numeric_limits<std::uint32_t>::max()) {
    return IndexResult::kDataUnreadable;
  }
  const bool bitmap = (params.table_flags & kFlagBitmap) != 0;
  // A chunk plus room for the longest record keeps every record whole.
  std::vector<std::uint8_t> buffer(kReadChunk + 0x10000 + kRecordLengthSize);
  std::size_t begin = 0;
  std::size_t end = 0;
  std::uint64_t buffer_offset = 0;  // file offset of buffer[0]
  bool at_eof = false;
  auto fill = [&](std::size_t need) {
    if (end - begin >= need || at_eof) return end - begin >= need;
    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
    buffer_offset += begin;
    end -= begin;
    begin = 0;
    while (end - begin < need && !at_eof) {
      std::size_t got = 0;
      const std::size_t room = std::min(kReadChunk, buffer.size() - end);
      if (!file.Read(buffer.data() + end, room, got).ok()) return false;
      if (got == 0) at_eof = true;
      end += got;
    }
    return end - begin >= need;
  };
  std::vector<std::uint8_t> entry(entry_length);
  for (;;) {
    if (!fill(kRecordLengthSize)) {
      if (end - begin == 0 && at_eof) break;
      return at_eof ? IndexResult::kDataDamaged : IndexResult::kDataUnreadable;
    }
    const std::size_t record_length = ReadLE16(buffer.data() + begin);
    if (record_length > params.max_record_length) return IndexResult::kDataDamaged;
    if (!fill(kRecordLengthSize + record_length)) {
      return at_eof ? IndexResult::kDataDamaged : IndexResult::kDataUnreadable;
    }
    const std::uint8_t* content = buffer.data() + begin + kRecordLengthSize;
    std::size_t value_start = 0;
    if (bitmap && record_length > 0) {
      value_start = 1 + std::size_t{content[0]};
      if (value_start > record_length) return IndexResult::kDataDamaged;
    }
    const std::size_t available = record_length - value_start;
    const std::size_t copy = std::min(available, key_length);
    std::memcpy(entry.data(), content + value_start, copy);
    std::memset(entry.data() + copy, 0, key_length - copy);
    WriteLE32(entry.data() + key_length, static_cast<std::uint32_t>(buffer_offset + begin));
    entries.bytes.insert(entries.bytes.end(), entry.begin(), entry.end());
    begin += kRecordLengthSize + record_length;
  }
  return IndexResult::kOk;
}

void SortEntries(IndexEntries& entries, std::uint32_t table_flags) {
  const std::size_t count = entries.Count();
  const std::size_t entry_length = entries.entry_length;
  if (count < 2) return;
  const std::size_t key_length = entry_length - kEntryOffsetSize;
  const bool backward = (table_flags & kFlagBackward) != 0;
  auto compare = backward ? CompareBackward : CompareForward;
  // Tables are often written in key order already: then nothing moves.
  bool sorted = true;
  for (std::size_t i = 1; i < count && sorted; ++i) {
    sorted = compare(entries.Entry(i - 1), entries.Entry(i), key_length) <= 0;
  }
  if (sorted) return;

  const std::size_t prefix_bytes = std::min<std::size_t>(key_length, 8);
  std::vector<SortKey> keys(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* key = entries.Entry(i);
    std::uint64_t prefix = 0;
    for (std::size_t b = 0; b < prefix_bytes; ++b) {
      const std::uint8_t byte = backward ? key[key_length - 1 - b] : key[b];
      prefix |= std::uint64_t{byte} << (56 - 8 * b);
    }
    keys[i] = {prefix, static_cast<std::uint32_t>(i)};
  }
  const bool long_keys = key_length > 8;
  std::sort(keys.begin(), keys.end(), [&](const SortKey& a, const SortKey& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (long_keys) {
      const int c = compare(entries.Entry(a.seq), entries.Entry(b.seq), key_length);
      if (c != 0) return c < 0;
    }
    return a.seq < b.seq;
  });
  std::vector<std::uint8_t> out(entries.bytes.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(out.data() + i * entry_length, entries.Entry(keys[i].seq), entry_length);
  }
  entries.bytes.swap(out);
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
  return sorted.bytes.empty() || file.Write(sorted.bytes.data(), sorted.bytes.size()).ok();
}

bool WriteTreeIndex(os::File& file, const IndexEntries& sorted) {
  const std::size_t count = sorted.Count();
  const std::size_t entry_length = sorted.entry_length;
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
    return sorted.Entry(static_cast<std::size_t>(std::min<std::uint64_t>(position, count - 1)));
  };
  std::vector<std::uint8_t> block(layout.block_size);
  const std::uint32_t first_steps = layout.steps - layout.start_step;
  for (std::uint32_t level = 0; level < layout.levels; ++level) {
    const std::uint32_t before = level == 0 ? 0 : first_steps + (level - 1) * layout.steps;
    const std::uint32_t block_depth = level == 0 ? first_steps : layout.steps;
    const std::uint32_t skip = level == 0 ? layout.start_step : 0;  // heap depth of the entry node
    const std::uint64_t blocks = std::uint64_t{1} << before;
    for (std::uint64_t q = 0; q < blocks; ++q) {
      std::fill(block.begin(), block.end(), std::uint8_t{0});
      for (std::uint32_t j = 0; j < block_depth; ++j) {
        const std::uint64_t row_start = (std::uint64_t{1} << (skip + j)) - 1;  // heap index
        for (std::uint64_t c = 0; c < (std::uint64_t{1} << j); ++c) {
          std::memcpy(block.data() + (row_start + c) * entry_length,
                      entry_for(before + j, (q << j) + c), entry_length);
        }
      }
      if (!file.Write(block.data(), block.size()).ok()) return false;
    }
  }
  return true;
}

IndexResult WriteIndexFile(const std::string& index_path, const IndexEntries& sorted,
                           std::uint32_t table_flags) {
  const std::string temp_path = index_path + kTempSuffix;
  os::File file;
  if (!file.Open(temp_path, os::OpenMode::kCreateTruncate).ok()) return IndexResult::kIndexUnwritable;
  const bool written = (table_flags & kFlagTree) ? WriteTreeIndex(file, sorted) : WriteListIndex(file, sorted);
  const bool closed = file.Close().ok();
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
  SortEntries(entries, params.table_flags);
  return WriteIndexFile(index_path, entries, params.table_flags);
}

}  // namespace veupd::fdt
