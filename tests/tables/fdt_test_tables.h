// Table files built byte by byte for the table tests, independent of the
// code under test.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace veupd::test {

inline std::string Le16(std::uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
inline std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(static_cast<std::uint16_t>(v >> 16)); }

struct FieldLayout {
  std::string name;  // two characters
  std::uint16_t width = 0;
  std::uint16_t max_occurs = 0;
  std::uint16_t kind = 3;
  std::uint16_t members = 0;
  std::uint16_t flags = 0;
  std::string description;  // written with a NUL; "" writes D = 0
};

constexpr std::uint16_t kSingle = 3, kList8 = 2, kList16 = 4, kGroup = 1, kFixed = 0x10;
constexpr std::uint16_t kType6 = 6 << 1;  // 16-bit length prefix

struct StructureLayout {
  std::uint16_t header_length = 40;  // L
  std::string data_name = "T.DAT";
  std::string index_name = "T.IDX";
  std::uint16_t entry_length = 8;
  std::uint32_t flags = 0;
  std::vector<FieldLayout> fields;
  std::string aux;
};

inline std::string StructureBytes(const StructureLayout& layout) {
  const auto padded = [](std::string text, std::size_t n) { text.resize(n, '\0'); return text; };
  std::string h = Le16(layout.header_length) + "xx" + Le16(static_cast<std::uint16_t>(layout.fields.size())) + "yy" +
                  padded(layout.data_name, 13) + padded(layout.index_name, 13) + Le16(0x7777) /* ignored */ +
                  Le16(layout.entry_length) + Le32(layout.flags);
  h.resize(std::size_t{layout.header_length} + 2, 'z');
  for (const auto& f : layout.fields) {
    h += padded(f.name, 3) + Le16(f.width) + Le16(f.max_occurs) + Le16(f.kind) + Le16(f.members) + Le16(f.flags);
  }
  h += Le16(static_cast<std::uint16_t>(layout.aux.size())) + layout.aux;
  for (const auto& f : layout.fields) {
    h += f.description.empty() ? Le16(0) : Le16(static_cast<std::uint16_t>(f.description.size() + 1)) + f.description + '\0';
  }
  return h;
}

inline std::string Record(const std::string& content) { return Le16(static_cast<std::uint16_t>(content.size())) + content; }
// A variable value with an 8-bit prefix.
inline std::string Var8(const std::string& text) { return std::string(1, static_cast<char>(text.size())) + text; }

// List index entries (key bytes, offset), already in order.
inline std::string ListIndex(const std::vector<std::pair<std::string, std::uint32_t>>& entries) {
  std::string s;
  for (const auto& [key, offset] : entries) s += key + Le32(offset);
  return s;
}

inline StructureLayout Layout(std::uint32_t flags, std::vector<FieldLayout> fields) {
  StructureLayout layout;
  layout.flags = flags;
  layout.fields = std::move(fields);
  return layout;
}

// The message-table shape: u32 number (fixed) then the text "D0".
inline StructureLayout NumberTextLayout(std::uint32_t flags) {
  return Layout(flags, {{"NR", 4, 1, kSingle, 0, kFixed, "number"}, {"D0", 250, 1, kSingle, 0, 0, "text"}});
}

}  // namespace veupd::test
