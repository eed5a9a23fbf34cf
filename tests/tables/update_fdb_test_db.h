// File databases laid out and read back byte by byte, independent of the code under test; the reader
// checks every rule a database and its index must keep.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace veupd::test::fdb {

struct Rec {
  std::string key;
  std::string data;
  friend bool operator==(const Rec&, const Rec&) = default;
};

inline void PrintTo(const Rec& r, std::ostream* os) {
  *os << r.key << " (" << r.data.size() << " bytes: " << r.data.substr(0, 16) << ")";
}

inline std::string LE32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// The CRC-32 variant of the updater, bit by bit: reflected 0xEDB88320,
// initial value 0, no final complement.
inline std::uint32_t Crc(std::string_view bytes) {
  std::uint32_t crc = 0;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

// The bytes of a database: header record, then the records as given.
inline std::string FdbBytes(std::size_t key_length, const std::vector<Rec>& recs) {
  std::string out = LE32(static_cast<std::uint32_t>(key_length)) + std::string(key_length, 'H');  // the header record
  for (const Rec& r : recs) out += LE32(static_cast<std::uint32_t>(r.key.size() + r.data.size())) + r.key + r.data;
  return out;
}

inline std::string FdxBytes(std::size_t key_length, const std::vector<Rec>& recs) {
  std::string out = std::string(key_length, 'H') + LE32(0);
  std::uint32_t offset = static_cast<std::uint32_t>(4 + key_length);
  for (const Rec& r : recs) {
    out += r.key + LE32(offset);
    offset += static_cast<std::uint32_t>(4 + r.key.size() + r.data.size());
  }
  return out;
}

// "<dir>/DATA.FDB" and "<dir>/DATA.FDX".
inline void WriteDb(const TempDir& dir, std::size_t key_length, const std::vector<Rec>& recs) {
  WriteFile(dir / "DATA.FDB", FdbBytes(key_length, recs));
  WriteFile(dir / "DATA.FDX", FdxBytes(key_length, recs));
}

// Reads "<dir>/DATA.FDB" with its index; problem is empty when the header record, every record length,
// the ascending keys and every index entry agree.
struct Parsed {
  std::string problem;
  std::vector<Rec> records;
};

inline Parsed ReadDb(const TempDir& dir, std::size_t key_length) {
  Parsed p;
  const std::string fdb = ReadFile(dir / "DATA.FDB");
  for (std::size_t at = 4 + key_length; at + 4 + key_length <= fdb.size();) {
    const auto byte = [&](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(fdb[at + i])} << (8 * i); };
    const std::uint32_t length = byte(0) | byte(1) | byte(2) | byte(3);
    if (length < key_length || at + 4 + length > fdb.size()) break;
    p.records.push_back({fdb.substr(at + 4, key_length), fdb.substr(at + 4 + key_length, length - key_length)});
    at += 4 + length;
  }
  const auto unordered = [](const Rec& a, const Rec& b) { return !(a.key < b.key); };
  if (fdb != FdbBytes(key_length, p.records)) {
    p.problem = "header or record lengths";
  } else if (std::adjacent_find(p.records.begin(), p.records.end(), unordered) != p.records.end()) {
    p.problem = "key order";
  } else if (ReadFile(dir / "DATA.FDX") != FdxBytes(key_length, p.records)) {
    p.problem = "index";
  }
  return p;
}

}  // namespace veupd::test::fdb
