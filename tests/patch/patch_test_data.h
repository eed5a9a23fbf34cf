// Update data records and structure files built by hand for the patch tests, and native paths as commands join them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "test_support.h"

namespace veupd::test {

// A path inside the folder with native separators ("old/T.DAT" on Windows becomes "old\\T.DAT").
inline std::string Native(const TempDir& dir, std::string_view relative) {
  return (dir.path() / std::filesystem::path(relative).make_preferred()).string();
}

// One update data record, bytes laid out by hand: position (LE32), token, length (LE16), payload.
inline std::string Rec(std::int64_t position, char tok, std::uint16_t length, std::string_view payload = {}) {
  const auto p = static_cast<std::uint32_t>(position);
  return std::string{char(p), char(p >> 8), char(p >> 16), char(p >> 24), tok, char(length), char(length >> 8)} +
         std::string(payload);
}

// A record whose payload length is taken from the payload.
inline std::string Rec(std::int64_t position, char tok, std::string_view payload) {
  return Rec(position, tok, static_cast<std::uint16_t>(payload.size()), payload);
}

// A minimal structure file: a 40-byte header naming the data and index files, no fields, an empty auxiliary block.
inline std::string StructureFile(std::string_view data_name, std::string_view index_name) {
  std::string s(2 + 40 + 2, '\0');
  s[0] = 40;
  s.replace(8, data_name.size(), data_name);
  s.replace(21, index_name.size(), index_name);
  return s;
}

}  // namespace veupd::test
