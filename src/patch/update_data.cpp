// Update data file reader and writer; the layout is described in the header.
#include "patch/update_data.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "formats/byte_order.h"
#include "formats/crc32.h"

namespace veupd {

namespace {

constexpr std::size_t kStreamBufferSize = 65536;

}  // namespace

void EncodeRecordHeader(const UpdateRecord& rec, std::uint8_t (&out)[kRecordHeaderSize]) {
  WriteLE32(out, static_cast<std::uint32_t>(rec.position));
  out[4] = rec.token;
  WriteLE16(out + 5, rec.length);
}

UpdateRecord DecodeRecordHeader(const std::uint8_t (&in)[kRecordHeaderSize]) {
  UpdateRecord rec;
  rec.position = static_cast<std::int32_t>(ReadLE32(in));  // two's complement: high bit set reads negative
  rec.token = in[4];
  rec.length = ReadLE16(in + 5);
  return rec;
}

// ---------------------------------------------------------------- reader

UpdateDataReader::UpdateDataReader() : buf_(kStreamBufferSize) {}

os::OsResult UpdateDataReader::Open(const std::string& path) {
  pos_ = end_ = 0;
  eof_ = false;
  return file_.Open(path, os::OpenMode::kRead);
}

bool UpdateDataReader::Fill() {
  if (eof_) return false;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  std::size_t got = 0;
  const os::OsResult r = file_.Read(buf_.data() + end_, buf_.size() - end_, got);
  // A read error ends the records as the end of the file would; a short
  // payload is then reported by the caller.
  if (!r.ok() || got == 0) {
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

std::size_t UpdateDataReader::ReadBytes(std::uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (pos_ == end_ && !Fill()) break;
    const std::size_t n = std::min(size - done, end_ - pos_);
    std::memcpy(out + done, buf_.data() + pos_, n);
    pos_ += n;
    done += n;
  }
  return done;
}

bool UpdateDataReader::NextHeader(UpdateRecord& rec) {
  std::uint8_t raw[kRecordHeaderSize];
  if (ReadBytes(raw, sizeof raw) < sizeof raw) return false;
  rec = DecodeRecordHeader(raw);
  return true;
}

void UpdateDataReader::ReadPayload(std::uint8_t* out, std::size_t size, std::size_t& got) {
  got = ReadBytes(out, size);
}

void UpdateDataReader::Close() {
  (void)file_.Close();  // read only: nothing to lose
  pos_ = end_ = 0;
}

// ---------------------------------------------------------------- writer

UpdateDataWriter::UpdateDataWriter() : buf_(kStreamBufferSize) {}

os::OsResult UpdateDataWriter::Open(const std::string& path) {
  used_ = 0;
  written_ = 0;
  crc_ = 0;
  sticky_ = os::OsResult::Ok();
  return file_.Open(path, os::OpenMode::kCreateTruncate);
}

os::OsResult UpdateDataWriter::FlushBuffer() {
  if (used_ == 0) return os::OsResult::Ok();
  const os::OsResult r = file_.Write(buf_.data(), used_);
  used_ = 0;
  return r;
}

os::OsResult UpdateDataWriter::Put(const std::uint8_t* data, std::size_t size) {
  if (used_ + size > buf_.size()) {
    if (os::OsResult r = FlushBuffer(); !r.ok()) return r;
    if (size >= buf_.size()) {
      CCrc32::AddBytes(crc_, data, size);
      return file_.Write(data, size);
    }
  }
  CCrc32::AddBytes(crc_, data, size);
  std::memcpy(buf_.data() + used_, data, size);
  used_ += size;
  return os::OsResult::Ok();
}

os::OsResult UpdateDataWriter::WriteOldCrcTrailer(std::uint32_t old_crc) {
  if (!sticky_.ok()) return sticky_;
  std::uint8_t raw[kOldCrcTrailerSize];
  WriteLE32(raw, old_crc);
  std::uint32_t check = crc_;
  CCrc32::AddBytes(check, raw, 4);
  WriteLE16(raw + 4, static_cast<std::uint16_t>(check));
  const os::OsResult r = Put(raw, sizeof raw);
  if (!r.ok()) sticky_ = r;
  return r;
}

os::OsResult UpdateDataWriter::Write(const UpdateRecord& rec, std::span<const std::uint8_t> payload) {
  if (!sticky_.ok()) return sticky_;
  const std::size_t want = TokenHasPayload(rec.token) ? rec.length : 0;
  if (payload.size() != want) return os::OsResult::Fail(os::OsErr::kOther);
  std::uint8_t raw[kRecordHeaderSize];
  EncodeRecordHeader(rec, raw);
  os::OsResult r = Put(raw, sizeof raw);
  if (r.ok() && !payload.empty()) r = Put(payload.data(), payload.size());
  if (!r.ok()) {
    sticky_ = r;
    return r;
  }
  written_ += sizeof raw + payload.size();
  return r;
}

os::OsResult UpdateDataWriter::Insert(std::int32_t position, std::span<const std::uint8_t> payload) {
  if (payload.size() > kMaxPayload) return os::OsResult::Fail(os::OsErr::kOther);
  return Write({position, token::kAdd, static_cast<std::uint16_t>(payload.size())}, payload);
}

os::OsResult UpdateDataWriter::Delete(std::int32_t position, std::uint16_t length) {
  return Write({position, token::kDelete, length});
}

os::OsResult UpdateDataWriter::Replace(std::int32_t position, std::span<const std::uint8_t> payload) {
  if (payload.size() > kMaxPayload) return os::OsResult::Fail(os::OsErr::kOther);
  return Write({position, token::kReplace, static_cast<std::uint16_t>(payload.size())}, payload);
}

os::OsResult UpdateDataWriter::Close() {
  os::OsResult r = sticky_;
  if (r.ok()) r = FlushBuffer();
  const os::OsResult c = file_.Close();
  if (r.ok()) r = c;
  used_ = 0;
  return r;
}

// ---------------------------------------------------------------- scan

namespace {

// CRC-32 of the first count bytes of the file.
bool PrefixCrc(const std::string& path, std::uint64_t count, std::uint32_t& crc) {
  os::File file;
  if (!file.Open(path, os::OpenMode::kRead).ok()) return false;
  std::vector<std::uint8_t> buf(kStreamBufferSize);
  crc = 0;
  while (count > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, buf.size()));
    std::size_t got = 0;
    if (!file.Read(buf.data(), want, got).ok() || got != want) return false;
    CCrc32::AddBytes(crc, buf.data(), got);
    count -= got;
  }
  return true;
}

}  // namespace

std::optional<UpdateDataScan> ScanUpdateData(const std::string& path) {
  UpdateDataScan scan;
  {
    os::File file;
    if (!file.Open(path, os::OpenMode::kRead).ok() || !file.Length(scan.size).ok()) return std::nullopt;
  }
  UpdateDataReader reader;
  if (!reader.Open(path).ok()) return std::nullopt;
  std::vector<std::uint8_t> payload(kMaxPayload);
  std::uint64_t offset = 0;
  std::int32_t last_position = 0;
  UpdateRecord rec;
  while (reader.NextHeader(rec)) {
    if (scan.records > 0 && rec.position < last_position) scan.positions_decrease = true;
    last_position = rec.position;
    const std::string_view known = "ADUadu";
    if (known.find(static_cast<char>(rec.token)) == std::string_view::npos) {
      if (!scan.unknown_token) scan.unknown_token = rec.token;
    } else if (rec.token >= 'a') {
      scan.lower_case_tokens = true;
    }
    std::size_t got = 0;
    if (TokenHasPayload(rec.token)) reader.ReadPayload(payload.data(), rec.length, got);
    if (got < (TokenHasPayload(rec.token) ? rec.length : 0)) {
      scan.short_payload = true;
      scan.short_offset = offset;
      scan.short_length = rec.length;
      scan.short_got = got;
      break;
    }
    offset += kRecordHeaderSize + got;
    ++scan.records;
  }
  reader.Close();
  scan.records_end = offset;
  if (!scan.short_payload && scan.size - offset == kOldCrcTrailerSize) {
    std::uint8_t tail[kOldCrcTrailerSize];
    os::File file;
    std::size_t got = 0;
    std::uint32_t check = 0;
    if (file.Open(path, os::OpenMode::kRead).ok() && file.Seek(static_cast<std::int64_t>(offset), os::SeekFrom::kBegin).ok() &&
        file.Read(tail, sizeof tail, got).ok() && got == sizeof tail && PrefixCrc(path, offset + 4, check) &&
        (check & 0xFFFF) == ReadLE16(tail + 4)) {
      scan.old_crc = ReadLE32(tail);
    }
  }
  return scan;
}

}  // namespace veupd
