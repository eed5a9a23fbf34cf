// FDT tables: structure, data and index files. Input: the three files and a
// list of keys (one a line), joined by the part marker. Loads the structure,
// reads every field of the first records, searches the index for the keys it
// holds and those given, then builds a fresh index from the data and searches
// that too.
#include <algorithm>

#include "fuzz_support.h"
#include "tables/fdt.h"
#include "tables/fdt_index_builder.h"

namespace {

using veupd::FDT;
namespace fdt = veupd::fdt;

constexpr int kMaxRecords = 16;
constexpr std::int16_t kMaxFields = 24;
constexpr std::size_t kMaxKeys = 24;

void ReadField(FDT& table, std::int16_t field) {
  const char* text = table.GetField(field);
  VEUPD_FUZZ_CHECK(text != nullptr);
  for (std::uint32_t i = 0; i <= table.ListCount(); ++i) {
    (void)table.ListElement(i);
    (void)table.ListElementLength(i);
  }
}

// Reads the records from the start of the data, each field of each.
void WalkRecords(FDT& table) {
  const std::int16_t fields = std::min(table.FieldCount(), kMaxFields);
  std::int32_t pos = 0;
  for (int r = 0; r < kMaxRecords; ++r) {
    table.SetDataPosition(pos);
    if (!table.ReadRecord()) break;
    const std::int32_t next = table.DataPosition();
    VEUPD_FUZZ_CHECK(next > pos);
    fdt::FieldView view;
    for (std::int16_t i = -1; i <= fields; ++i) {
      if (table.ViewField(i, view) && view.present) VEUPD_FUZZ_CHECK(view.bytes != nullptr);
    }
    for (std::int16_t i = 0; i < fields; ++i) {
      table.SetDataPosition(pos);
      ReadField(table, i);
    }
    pos = next;
  }
}

void SearchAndRead(FDT& table, const std::string& key) {
  if (key.empty() || key.size() > 0x7FFF) return;
  if (table.Search(key.data(), static_cast<std::int16_t>(key.size()))) {
    const std::int32_t at = table.DataPosition();
    ReadField(table, 0);
    table.SetDataPosition(at);
    ReadField(table, static_cast<std::int16_t>(table.FieldCount() - 1));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = veupd::fuzz::SplitParts(data, size, 4);
  auto& scratch = veupd::fuzz::Scratch();
  const std::string structure = scratch.File("T.STR");
  const std::string data_file = scratch.File("T.DAT");
  const std::string index_file = scratch.File("T.IDX");
  const std::string built_index = scratch.File("B.IDX");
  veupd::fuzz::WriteFile(structure, parts[0]);
  veupd::fuzz::WriteFile(data_file, parts[1]);
  veupd::fuzz::WriteFile(index_file, parts[2]);

  FDT table;
  std::string data_name;
  std::string index_name;
  if (!table.NewStru(structure, data_name, index_name)) return 0;
  VEUPD_FUZZ_CHECK(data_name.size() <= fdt::kFileNameSize && index_name.size() <= fdt::kFileNameSize);
  bool found = false;
  for (std::int16_t i = 0; i < std::min(table.FieldCount(), kMaxFields); ++i) {
    const fdt::FieldInfo info = table.Field(i);
    const std::uint16_t at = table.FindField(info.name, found);
    VEUPD_FUZZ_CHECK(found && at <= static_cast<std::uint16_t>(i));
  }
  (void)table.FindField("", found);
  VEUPD_FUZZ_CHECK(table.Descriptions().size() == static_cast<std::size_t>(table.FieldCount()));

  if (!table.SetFiles(data_file, index_file) || !table.OpenFiles(fdt::kOpenAll)) return 0;
  WalkRecords(table);

  // Keys of the index as stored: the list form's entries, or the tree's
  // root block; then the keys given.
  const std::size_t entry_length = table.EntryLength();
  const std::size_t key_length = entry_length > fdt::kEntryOffsetSize ? entry_length - fdt::kEntryOffsetSize : 1;
  const std::string_view index = parts[2];
  const std::size_t first = (table.TableFlags() & fdt::kFlagTree) ? fdt::kTreeHeaderSize : 0;
  std::vector<std::string> keys;
  for (std::size_t at = first; entry_length > 0 && at + entry_length <= index.size() && keys.size() < kMaxKeys;
       at += entry_length) {
    keys.emplace_back(index.substr(at, key_length));
  }
  for (std::string& key : veupd::fuzz::Lines(parts[3], kMaxKeys)) keys.push_back(std::move(key));
  for (const std::string& key : keys) SearchAndRead(table, key);

  // The same keys in an index built from the data.
  if (fdt::BuildIndex(structure, data_file, built_index) == fdt::IndexResult::kOk &&
      table.ChangeFiles(nullptr, built_index.c_str(), 0) && table.OpenFiles(fdt::kOpenAll)) {
    for (const std::string& key : keys) SearchAndRead(table, key);
  }
  return 0;
}
