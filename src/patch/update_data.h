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
//
// Old-file trailer: the patch commands ignore up to 6 bytes after the last
// record, so veupd-tool diff puts 6 there: the CRC-32 of the old file the
// records were made from (little-endian), then the low 16 bits of the CRC-32
// of every byte before them (little-endian). The check tells a whole file
// from a damaged one, and a trailer from stray bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace veupd {

constexpr std::size_t kRecordHeaderSize = 4 + 1 + 2;  // position, token, length
constexpr std::size_t kMaxPayload = 0xFFFF;
constexpr std::int64_t kMaxPosition = 0x7FFFFFFF;  // positions are signed 32-bit
constexpr std::size_t kOldCrcTrailerSize = 6;
static_assert(kOldCrcTrailerSize < kRecordHeaderSize, "the patch commands must stop before the trailer");

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
  // Ends the records with the old-file trailer; nothing may follow.
  [[nodiscard]] os::OsResult WriteOldCrcTrailer(std::uint32_t old_crc);
  [[nodiscard]] os::OsResult Close();

 private:
  [[nodiscard]] os::OsResult Put(const std::uint8_t* data, std::size_t size);
  [[nodiscard]] os::OsResult FlushBuffer();

  os::File file_;
  std::vector<std::uint8_t> buf_;
  std::size_t used_ = 0;
  std::uint64_t written_ = 0;
  std::uint32_t crc_ = 0;  // of every byte put so far, for the trailer
  os::OsResult sticky_;  // first failure; later writes are refused
};

// What an update data file holds, read without applying it.
struct UpdateDataScan {
  std::uint64_t size = 0;
  std::uint64_t records = 0;
  std::uint64_t records_end = 0;  // offset after the last whole record
  // A record whose payload runs past the end of the file (the patch commands
  // fail with 14 on it): its offset, length field and the bytes present.
  bool short_payload = false;
  std::uint64_t short_offset = 0;
  std::uint16_t short_length = 0;
  std::uint64_t short_got = 0;
  bool lower_case_tokens = false;  // 'a', 'd', 'u': table data updates only
  std::optional<std::uint8_t> unknown_token;  // first token outside "ADUadu"
  bool positions_decrease = false;
  // The old file's CRC from a whole trailer; nullopt without one.
  std::optional<std::uint32_t> old_crc;
  // Bytes after the records that are no whole trailer: a file cut short or
  // changed, or not made by veupd-tool diff.
  [[nodiscard]] bool Damaged() const { return short_payload || (!old_crc && size != records_end); }
};

// Reads the file once for the records and once for the trailer's check;
// nullopt when it cannot be read.
[[nodiscard]] std::optional<UpdateDataScan> ScanUpdateData(const std::string& path);

}  // namespace veupd
