// Builds a table's index file from its data file, in the list or the tree
// form that FDT searches. Shared by the pointer component and veupd-tool, so
// that both write byte-identical indexes. Any thread; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tables/fdt.h"

namespace veupd::fdt {

// Results of building an index (also the pointer component's results).
enum class IndexResult : int {
  kOk = 0,
  kNoStructure = 1,     // structure file cannot be loaded or has no usable key
  kDataUnreadable = 2,  // data file cannot be read
  kIndexUnwritable = 3, // index file cannot be written (or too many entries)
  kDataDamaged = 4,     // a record runs past the end of the data file
};

// What the builder needs from a structure.
struct IndexParams {
  std::size_t entry_length = 0;     // E: key length + 4
  std::uint32_t table_flags = 0;
  std::size_t max_record_length = 0;
};

// The collected entries. Keys of up to 4 bytes are packed into one u64 each:
// the key in comparison order above the record offset, so that sorting the
// numbers sorts by key and keeps file order for equal keys. Longer keys are
// kept flat, E bytes each (key, then the u32 record offset).
class IndexEntries {
 public:
  static constexpr std::size_t kMaxPackedKey = 4;

  void Reset(std::size_t entry_length, bool backward);
  [[nodiscard]] bool Packed() const { return packed_mode_; }
  [[nodiscard]] std::size_t EntryLength() const { return entry_length_; }
  [[nodiscard]] std::size_t Count() const {
    return packed_mode_ ? packed_.size() : (entry_length_ ? flat_.size() / entry_length_ : 0);
  }
  void Reserve(std::size_t count);
  // Adds the key bytes (key length of them) with the record's offset.
  void Add(const std::uint8_t* key, std::uint32_t offset);
  // Writes entry i in its file form (E bytes) to out.
  void CopyEntry(std::size_t i, std::uint8_t* out) const;
  // Sorts under the table's comparison; equal keys keep file order.
  void Sort();

 private:
  [[nodiscard]] int CompareFlat(std::size_t a, std::size_t b) const;
  void SortPacked();
  // Appends a packed entry, noting which key bits vary and whether the
  // entries still come in order, so that sorting needs no extra pass.
  void AddPacked(std::uint64_t value) {
    any_bits_ |= value;
    all_bits_ &= value;
    in_order_ = in_order_ && (packed_.empty() || packed_.back() < value);
    packed_.push_back(value);
  }

  std::size_t entry_length_ = 0;
  std::size_t key_length_ = 0;
  bool backward_ = false;
  bool packed_mode_ = false;
  std::uint64_t any_bits_ = 0;
  std::uint64_t all_bits_ = ~std::uint64_t{0};
  bool in_order_ = true;
  std::vector<std::uint64_t> packed_;
  std::vector<std::uint8_t> flat_;
};

// Inline: called once per record and once per written entry.
inline void IndexEntries::Add(const std::uint8_t* key, std::uint32_t offset) {
  if (packed_mode_) {
    // The key's first compared byte becomes the most significant.
    std::uint64_t value = 0;
    if (key_length_ == 4) {  // the message-table case: a u32 under either order
      const std::uint32_t le = ReadLE32(key);
      const std::uint32_t number = backward_ ? le
                                             : (le >> 24) | ((le >> 8) & 0xFF00u) | ((le << 8) & 0xFF0000u) | (le << 24);
      AddPacked((std::uint64_t{number} << 32) | offset);
      return;
    }
    for (std::size_t b = 0; b < key_length_; ++b) {
      const std::uint8_t byte = backward_ ? key[key_length_ - 1 - b] : key[b];
      value |= std::uint64_t{byte} << (56 - 8 * b);
    }
    AddPacked(value | offset);
    return;
  }
  const std::size_t at = flat_.size();
  flat_.resize(at + entry_length_);
  std::memcpy(flat_.data() + at, key, key_length_);
  WriteLE32(flat_.data() + at + key_length_, offset);
}

inline void IndexEntries::CopyEntry(std::size_t i, std::uint8_t* out) const {
  if (!packed_mode_) {
    std::memcpy(out, flat_.data() + i * entry_length_, entry_length_);
    return;
  }
  const std::uint64_t value = packed_[i];
  if (key_length_ == 4) {
    const auto number = static_cast<std::uint32_t>(value >> 32);
    WriteLE32(out, backward_ ? number
                             : (number >> 24) | ((number >> 8) & 0xFF00u) | ((number << 8) & 0xFF0000u) | (number << 24));
  } else {
    for (std::size_t b = 0; b < key_length_; ++b) {
      const auto byte = static_cast<std::uint8_t>(value >> (56 - 8 * b));
      out[backward_ ? key_length_ - 1 - b : b] = byte;
    }
  }
  WriteLE32(out + key_length_, static_cast<std::uint32_t>(value));
}

// Shape of a tree index for a number of entries. Each block holds a complete
// subtree of `steps` levels (2^steps - 1 entries); the first block holds only
// the top of the tree, entered at start_step / start_pos. The whole tree has
// as many levels as a complete tree needs for all entries; unused places
// repeat the last entry, which keeps the in-order sequence sorted.
struct TreeLayout {
  std::uint32_t depth = 0;  // comparison steps from the root to a leaf
  std::uint32_t steps = 0;
  std::uint32_t levels = 0;
  std::uint32_t block_size = 0;
  std::uint32_t start_step = 0;
  std::uint32_t start_pos = 0;
  std::array<std::uint32_t, kMaxTreeLevels> level_offsets{};
  std::uint64_t file_size = 0;
};

// Block size the builder aims for (one read per level).
constexpr std::size_t kTargetBlockSize = 4096;

[[nodiscard]] bool ParamsFromStructure(const FDT& table, IndexParams& params);

// Reads every record front to back; each entry's key is the first E - 4
// bytes of the record's value area (after the bitmap), zero-padded.
[[nodiscard]] IndexResult CollectEntries(const std::string& data_path, const IndexParams& params,
                                         IndexEntries& entries);

// False when the entries do not fit the 20 levels or 32-bit offsets.
[[nodiscard]] bool PlanTree(std::size_t count, std::size_t entry_length, TreeLayout& layout);

// Write sorted entries as the index file's content.
[[nodiscard]] bool WriteListIndex(os::File& file, const IndexEntries& sorted);
[[nodiscard]] bool WriteTreeIndex(os::File& file, const IndexEntries& sorted);

// Writes the form chosen by the flags under a temporary name beside the
// index and renames it over the index, so no half-written index remains.
[[nodiscard]] IndexResult WriteIndexFile(const std::string& index_path, const IndexEntries& sorted,
                                         std::uint32_t table_flags);

// The whole job: load the structure, collect, sort, write.
[[nodiscard]] IndexResult BuildIndex(const std::string& structure_path, const std::string& data_path,
                                     const std::string& index_path);

}  // namespace veupd::fdt
