// Update data file: the edit records that the patch commands apply and that
// veupd-tool diff writes. Streaming reader and writer with their own fixed
// buffers; one object per thread.
//
// Layout: a flat sequence of records, no header, no count, no trailer. The
// records end where fewer than kRecordHeaderSize bytes remain.
//   offset 0, 4 bytes: position in the OLD file, little-endian signed 32-bit;
//                      positions never decrease from record to record
//   offset 4, 1 byte : token, one ASCII letter (case-sensitive)
//   offset 5, 2 bytes: length, little-endian unsigned 16-bit (unaligned)
//   offset 7         : payload of length bytes, absent for 'D' and 'd'
// Tokens: 'A' insert, 'D' delete, 'U' replace (byte level for Fix-Update,
// whole length-prefixed records for FDT-Update); 'a', 'd', 'u' are the byte
// level tokens of FDT-Update.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace veupd {

constexpr std::size_t kRecordHeaderSize = 4 + 1 + 2;  // position, token, length
constexpr std::size_t kMaxPayload = 0xFFFF;
constexpr std::int64_t kMaxPosition = 0x7FFFFFFF;  // positions are signed 32-bit

namespace token {
constexpr std::uint8_t kAdd = 'A';
constexpr std::uint8_t kDelete = 'D';
constexpr std::uint8_t kReplace = 'U';
constexpr std::uint8_t kAddBytes = 'a';
constexpr std::uint8_t kDeleteBytes = 'd';
constexpr std::uint8_t kReplaceBytes = 'u';
}  // namespace token

// One record header.
struct UpdateRecord {
  std::int32_t position = 0;
  std::uint8_t token = 0;
  std::uint16_t length = 0;
};

// True for the tokens whose record carries a payload (every token except
// 'D' and 'd'; unknown tokens carry one too, so that they are read whole).
[[nodiscard]] constexpr bool TokenHasPayload(std::uint8_t t) {
  return t != token::kDelete && t != token::kDeleteBytes;
}

void EncodeRecordHeader(const UpdateRecord& rec, std::uint8_t (&out)[kRecordHeaderSize]);
[[nodiscard]] UpdateRecord DecodeRecordHeader(const std::uint8_t (&in)[kRecordHeaderSize]);

// Reads records front to back through a 64 KiB buffer.
class UpdateDataReader {
 public:
  UpdateDataReader();
  [[nodiscard]] os::OsResult Open(const std::string& path);
  // False when fewer than kRecordHeaderSize bytes remain (the records are
  // over; stray trailing bytes are ignored) or on a read error.
  [[nodiscard]] bool NextHeader(UpdateRecord& rec);
  // Reads up to size bytes of payload into out; got tells how many arrived
  // (fewer only at the end of the file or on a read error).
  void ReadPayload(std::uint8_t* out, std::size_t size, std::size_t& got);
  void Close();

 private:
  // Reads up to size bytes; returns how many arrived.
  std::size_t ReadBytes(std::uint8_t* out, std::size_t size);
  bool Fill();

  os::File file_;
  std::vector<std::uint8_t> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
};

// Writes records through a 64 KiB buffer. Close() tells whether everything
// reached the file; the destructor closes silently.
class UpdateDataWriter {
 public:
  UpdateDataWriter();
  // Creates or truncates the file.
  [[nodiscard]] os::OsResult Open(const std::string& path);
  // payload must hold exactly rec.length bytes for tokens with a payload and
  // be empty for 'D' and 'd'; otherwise nothing is written and kOther
  // returned.
  [[nodiscard]] os::OsResult Write(const UpdateRecord& rec, std::span<const std::uint8_t> payload = {});
  // Shorthands for the byte-level tokens.
  [[nodiscard]] os::OsResult Insert(std::int32_t position, std::span<const std::uint8_t> payload);
  [[nodiscard]] os::OsResult Delete(std::int32_t position, std::uint16_t length);
  [[nodiscard]] os::OsResult Replace(std::int32_t position, std::span<const std::uint8_t> payload);
  // Bytes handed to Write so far (headers plus payloads).
  [[nodiscard]] std::uint64_t BytesWritten() const { return written_; }
  [[nodiscard]] os::OsResult Close();

 private:
  [[nodiscard]] os::OsResult Put(const std::uint8_t* data, std::size_t size);
  [[nodiscard]] os::OsResult FlushBuffer();

  os::File file_;
  std::vector<std::uint8_t> buf_;
  std::size_t used_ = 0;
  std::uint64_t written_ = 0;
  os::OsResult sticky_;  // first failure; later writes are refused
};

}  // namespace veupd
