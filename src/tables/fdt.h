// FDT: reads the application's tables (structure, data and index files).
// Read-only; an object is used by one thread at a time (each object has its
// own search buffers, so different objects may search concurrently).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/byte_order.h"
#include "platform/export.h"
#include "platform/platform.h"

namespace veupd {

// Binary layout of the three files, all little-endian.
//
// Structure file: header of L + 2 bytes (L >= 40), then F field descriptors
// of 13 bytes, an auxiliary block (u16 N + N bytes) and F descriptions
// (u16 D + D bytes of NUL-terminated text).
// Data file: records of u16 RL + RL bytes: [u8 B + B bitmap bytes] values.
// Index file, list form: sorted entries of E bytes (key, u32 record offset).
// Index file, tree form: 100-byte header, then blocks holding each a binary
// tree stored level by level (children of byte position p at 2p + E and
// 2p + 2E); blocks of level l + 1 are addressed by the path taken so far.
namespace fdt {

// Structure header.
constexpr std::size_t kMinHeaderLength = 40;  // L, counted after its own u16
constexpr std::size_t kHeaderLengthField = 2;
constexpr std::size_t kOffFieldCount = 4;
constexpr std::size_t kOffDataName = 8;
constexpr std::size_t kOffIndexName = 21;
constexpr std::size_t kFileNameSize = 13;  // 8.3 name and its NUL
constexpr std::size_t kOffMaxRecord = 34;
constexpr std::size_t kOffEntryLength = 36;
constexpr std::size_t kOffTableFlags = 38;

// Table flags.
constexpr std::uint32_t kFlagBackward = 0x2;    // keys compared last byte first
constexpr std::uint32_t kFlagNearest = 0x4;     // miss yields the nearest greater entry
constexpr std::uint32_t kFlagBitmap = 0x8;      // records start with a presence bitmap
constexpr std::uint32_t kFlagTree = 0x10000;    // index is the blocked tree

// Field descriptor.
constexpr std::size_t kDescriptorSize = 13;
constexpr std::size_t kOffDescName = 0;  // two characters and a NUL
constexpr std::size_t kOffDescWidth = 3;
constexpr std::size_t kOffDescMaxOccurs = 5;
constexpr std::size_t kOffDescKind = 7;
constexpr std::size_t kOffDescMembers = 9;
constexpr std::size_t kOffDescFlags = 11;
constexpr std::size_t kFieldNameLength = 2;

// Field kinds; group members are rewritten to the 1x kinds on loading.
constexpr std::uint16_t kKindGroup = 1;
constexpr std::uint16_t kKindList8 = 2;
constexpr std::uint16_t kKindSingle = 3;
constexpr std::uint16_t kKindList16 = 4;
constexpr std::uint16_t kKindMemberList8 = 10;
constexpr std::uint16_t kKindMemberSingle = 11;
constexpr std::uint16_t kKindMemberList16 = 12;

// Field flags.
constexpr std::uint16_t kFieldFixed = 0x10;  // no length prefix
[[nodiscard]] constexpr unsigned TypeCode(std::uint16_t field_flags) { return (field_flags >> 1) & 7; }
// Type codes 6 and 7 carry a 16-bit length prefix, all others an 8-bit one.
[[nodiscard]] constexpr std::size_t PrefixSize(std::uint16_t field_flags) {
  return TypeCode(field_flags) >= 6 ? 2 : 1;
}

constexpr std::size_t kMaxDescription = 199;
constexpr std::size_t kDescriptionRead = 200;
constexpr std::size_t kRecordSlack = 12;  // record buffer = max record length + 12

// Index entry: key of E - 4 bytes, then the u32 record offset.
constexpr std::size_t kEntryOffsetSize = 4;

// Tree index header.
constexpr std::size_t kTreeHeaderSize = 100;
constexpr std::size_t kOffTreeEntryLength = 2;
constexpr std::size_t kOffTreeSteps = 8;
constexpr std::size_t kOffTreeLevels = 12;
constexpr std::size_t kOffTreeBlockSize = 14;
constexpr std::size_t kOffTreeStartStep = 16;
constexpr std::size_t kOffTreeStartPos = 18;
constexpr std::size_t kOffTreeLevelOffsets = 20;
constexpr std::size_t kMaxTreeLevels = 20;

// Open flags.
constexpr std::uint32_t kOpenData = 0x8000;
constexpr std::uint32_t kOpenIndex = 0x1;
constexpr std::uint32_t kOpenAll = 0xFFFF;

// CompareForward / CompareBackward: -1 when the entry's first differing byte
// is smaller, +1 when greater, 0 when all n (at least 1) bytes are equal.
[[nodiscard]] int CompareForward(const std::uint8_t* entry, const std::uint8_t* key, std::size_t n);
[[nodiscard]] int CompareBackward(const std::uint8_t* entry, const std::uint8_t* key, std::size_t n);

// One descriptor as loaded (kinds of group members already rewritten).
struct FieldInfo {
  std::string name;
  std::uint16_t width = 0;
  std::uint16_t max_occurs = 0;
  std::uint16_t kind = 0;
  std::uint16_t members = 0;
  std::uint16_t flags = 0;
};

// Where one field of the record in the buffer lies. Singles: bytes/size.
// Lists: count elements, the first element's prefix at bytes, the list
// ending at bytes + size.
struct FieldView {
  bool present = false;
  std::uint16_t kind = 0;
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  std::uint32_t count = 0;
};

}  // namespace fdt

class FDT {
 public:
  FDT();
  virtual ~FDT();
  FDT(const FDT&) = delete;
  FDT& operator=(const FDT&) = delete;

  // Shows text in an OK/Cancel stop box; 0 when the user cancels, else 1.
  // A null text shows nothing and yields 1. The two numbers are only passed on.
  virtual int CallbackFunc(std::uint32_t value1, std::uint32_t value2, const char* text);
  // Drops the structure: closes the files, frees buffers and descriptors.
  virtual void FreeStru();
  // Replaces the record buffer (if any) by a fresh one.
  virtual void ResetBuffers();

  // Loads a structure file. On success returns the header's data and index
  // file names as stored; on failure empties both. A structure loaded before
  // is dropped first.
  [[nodiscard]] bool NewStru(const std::string& path, std::string& data_name, std::string& index_name);
  // Field index of the two-character name; 0xFFFF with found false when absent.
  [[nodiscard]] std::uint16_t FindField(std::string_view name, bool& found) const;
  // Takes a data/index pair (either may be empty: kept as is) after checking
  // that each given file opens and can be measured. Needs a structure.
  [[nodiscard]] bool SetFiles(const std::string& data_path, const std::string& index_path);
  // Closes the open files of the mask, takes the new pair (null: kept) and
  // reopens what was open. index_no is 0 in this program.
  [[nodiscard]] bool ChangeFiles(const char* data_path, const char* index_path, int index_no);
  [[nodiscard]] bool OpenFiles(std::uint32_t mask);
  [[nodiscard]] bool CloseFiles(std::uint32_t mask);
  // Finds the key (its first key_length bytes) in the index; on success the
  // current data position is the record's offset.
  [[nodiscard]] bool Search(const void* key, std::int16_t key_length);
  // Reads the record at the current data position, advances past it and
  // returns the text of a variable single field. Never null: anything else
  // (fixed fields, absent fields, damaged records) gives the empty text. For
  // a list field the element count is kept in ListCount() and the elements
  // in ListElement(); the result is then the empty text.
  [[nodiscard]] const char* GetField(std::int16_t index);

  // Reads the record at the current data position into the record buffer and
  // advances past it; false on a short read or an over-long record.
  [[nodiscard]] bool ReadRecord();
  // Locates field index in the record last read, without changing it.
  [[nodiscard]] bool ViewField(std::int16_t index, fdt::FieldView& view) const;

  // The list read by the last GetField of a list field.
  [[nodiscard]] std::uint32_t ListCount() const { return list_count_; }
  [[nodiscard]] const char* ListElement(std::uint32_t i) const;
  [[nodiscard]] std::uint16_t ListElementLength(std::uint32_t i) const;

  [[nodiscard]] bool IsLoaded() const { return header_ != nullptr; }
  [[nodiscard]] std::int16_t FieldCount() const { return field_count_; }
  [[nodiscard]] fdt::FieldInfo Field(std::int16_t index) const;
  [[nodiscard]] std::uint16_t HeaderLength() const;  // L
  [[nodiscard]] std::uint16_t MaxRecordLength() const;
  [[nodiscard]] std::uint16_t EntryLength() const;  // E
  [[nodiscard]] std::uint32_t TableFlags() const;
  [[nodiscard]] const std::string& FieldNames() const { return field_names_; }
  [[nodiscard]] const std::vector<std::string>& Descriptions() const { return descriptions_; }
  [[nodiscard]] const std::string& StructurePath() const { return structure_path_; }
  [[nodiscard]] const std::string& DataPath() const { return data_path_; }
  [[nodiscard]] const std::string& IndexPath() const { return index_path_; }
  [[nodiscard]] std::uint32_t DataLength() const { return data_length_; }
  [[nodiscard]] std::uint32_t IndexLength() const { return index_length_; }
  [[nodiscard]] std::uint32_t OpenFlags() const { return open_flags_; }
  [[nodiscard]] std::int32_t DataPosition() const { return data_pos_; }
  void SetDataPosition(std::int32_t pos) { data_pos_ = pos; }

  // The static empty text every failing lookup returns.
  [[nodiscard]] static const char* EmptyText();

 private:
  struct ListNode {
    std::unique_ptr<ListNode> next;
    std::vector<std::uint16_t> lengths;
    std::vector<const char*> elements;  // maximum occurrences + 2 slots
  };

  void DropStructure();
  // The steps of NewStru. The header and the field descriptors, with no
  // allocation for a count the file cannot hold.
  [[nodiscard]] bool ReadHeader(os::File& file, std::uint64_t file_length);
  // The largest record the structure allows, into the header, and the record
  // buffer for it.
  [[nodiscard]] bool SizeRecordBuffer();
  // Skips the auxiliary block; collects the field names, marks the members
  // of groups and reads each field's description.
  [[nodiscard]] bool ReadFieldTexts(os::File& file);
  // One length-prefixed description; false when it cannot be read whole.
  [[nodiscard]] static bool ReadDescription(os::File& file, std::string& description);
  [[nodiscard]] std::size_t RunSize(std::size_t first, std::size_t n) const;
  [[nodiscard]] const std::uint8_t* Descriptor(std::size_t i) const {
    return descriptors_.data() + i * fdt::kDescriptorSize;
  }
  [[nodiscard]] int Compare(const std::uint8_t* entry, const std::uint8_t* key, std::size_t n) const;
  [[nodiscard]] bool ListSearch(const std::uint8_t* key, std::size_t n, std::uint32_t& offset);
  [[nodiscard]] bool TreeSearch(const std::uint8_t* key, std::size_t n, std::uint32_t& offset);
  [[nodiscard]] bool ReadAt(os::File& file, std::uint64_t pos, void* data, std::size_t size);
  [[nodiscard]] const char* ReadList(const fdt::FieldView& view, std::uint16_t max_occurs,
                                     std::uint16_t flags);

  std::int16_t field_count_ = 0;
  std::unique_ptr<std::uint8_t[]> header_;  // L + 2 bytes
  std::string structure_path_;
  std::string data_path_;
  std::string index_path_;
  std::uint32_t data_length_ = 0;
  std::uint32_t index_length_ = 0;
  std::uint32_t open_flags_ = 0;
  os::File data_file_;
  os::File index_file_;
  std::vector<std::uint8_t> descriptors_;  // F * 13 bytes
  std::vector<std::uint8_t> record_;       // max record length + 12
  std::size_t record_size_ = 0;            // content bytes of the record last read
  std::string field_names_;                // "N1|N2|..."
  std::vector<std::string> descriptions_;
  std::int32_t data_pos_ = 0;
  std::unique_ptr<ListNode> list_chain_;
  std::uint32_t list_count_ = 0;
  std::vector<std::uint8_t> block_;  // tree block buffer, kept between searches
};

// Installs the process-wide object that FDT_CallbackFunc forwards to (null:
// none, the program's default).
void SetFdtCallbackObject(FDT* object);

}  // namespace veupd

// Exported by name so that loaded modules can show a message through the
// program: forwards to the installed object's CallbackFunc, else behaves as
// FDT::CallbackFunc.
VEUPD_EXPORT int FDT_CallbackFunc(std::uint32_t value1, std::uint32_t value2, const char* text);
