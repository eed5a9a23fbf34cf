// The apply step and the copy step of the patch commands: one forward pass
// over the old file, the update data file and the new file.
#include "patch/patch_engine.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "formats/byte_order.h"
#include "formats/dyn_buf.h"
#include "patch/patch_steps.h"
#include "patch/update_data.h"
#include "platform/platform.h"

namespace veupd {

namespace {

constexpr std::size_t kOutputBufferSize = 65536;
constexpr std::size_t kRecordLengthSize = 2;  // length field of a table data record

std::string Decimal(std::int64_t v) { return std::to_string(v); }

// The new file, written strictly front to back through a fixed buffer so that
// many small payloads do not each cost a system call.
class NewFileWriter {
 public:
  NewFileWriter() : buf_(kOutputBufferSize) {}
  // After a failure the new file keeps everything written so far.
  ~NewFileWriter() { (void)FlushBuffer(); }
  NewFileWriter(const NewFileWriter&) = delete;
  NewFileWriter& operator=(const NewFileWriter&) = delete;

  // A fresh name is created without a truncation, which some file systems
  // answer with a full flush at close; an existing file is truncated.
  [[nodiscard]] os::OsResult Open(const std::string& path) {
    os::OsResult r = file_.Open(path, os::OpenMode::kCreateNew);
    if (r.kind == os::OsErr::kExists) r = file_.Open(path, os::OpenMode::kCreateTruncate);
    return r;
  }

  [[nodiscard]] bool Write(const std::uint8_t* data, std::size_t size) {
    if (!ok_) return false;
    if (used_ + size > buf_.size()) {
      if (!FlushBuffer()) return false;
      if (size >= buf_.size()) {
        ok_ = file_.Write(data, size).ok();
        length_ += ok_ ? size : 0;
        return ok_;
      }
    }
    std::memcpy(buf_.data() + used_, data, size);
    used_ += size;
    length_ += size;
    return true;
  }

  // Writes what is buffered, optionally pushes it to the disk, and closes;
  // false when anything failed to reach the file.
  [[nodiscard]] bool Finish(bool sync) {
    bool ok = FlushBuffer();
    if (ok && sync) ok = file_.Flush().ok();
    const bool closed = file_.Close().ok();
    return ok && closed;
  }

  [[nodiscard]] std::uint64_t Length() const { return length_; }

 private:
  bool FlushBuffer() {
    if (!ok_) return false;
    if (used_ > 0) ok_ = file_.Write(buf_.data(), used_).ok();
    used_ = 0;
    return ok_;
  }

  os::File file_;
  std::vector<std::uint8_t> buf_;
  std::size_t used_ = 0;
  std::uint64_t length_ = 0;
  bool ok_ = true;
};

bool TokenInSet(std::uint8_t t, TokenSet set) {
  switch (t) {
    case token::kAdd:
    case token::kDelete:
    case token::kReplace:
      return true;
    case token::kAddBytes:
    case token::kDeleteBytes:
    case token::kReplaceBytes:
      return set == TokenSet::kFdt;
    default:
      return false;
  }
}

bool TokenNeedsOldFile(std::uint8_t t) {
  return t == token::kDelete || t == token::kReplace || t == token::kDeleteBytes || t == token::kReplaceBytes;
}

// One run of the apply step. Files close with the object on every path.
class Applier {
 public:
  Applier(const ApplyRequest& req, PatchBuffers& buffers, ErrorReporter& reporter)
      : req_(req), buffers_(buffers), reporter_(reporter), copy_(buffers.copy) {
    // A copy step without a buffer would never advance.
    if (copy_.empty()) {
      own_copy_.resize(kPatchCopyBufferSize);
      copy_ = own_copy_;
    }
  }

  ErrorCode Run() {
    if (!update_.Open(req_.update_path).ok()) return reporter_.Fail(Err::kCannotOpenUpdateFile, req_.update_path);
    std::uint64_t length = 0;
    old_present_ = old_.Open(req_.old_path, os::OpenMode::kRead).ok() && old_.Length(length).ok();
    old_length_ = static_cast<std::int64_t>(length);

    new_path_ = req_.new_path;
    if (new_path_.empty() && !NewFilePath(req_.new_dir, req_.old_path, new_path_)) {
      return reporter_.Fail(Err::kInvalidPath, req_.old_path);
    }
    // Creating the new file over the old one would truncate it before it is
    // read; such a line is refused as if the new file could not be created.
    if ((old_present_ && SamePathIgnoringCase(new_path_, req_.old_path)) || !new_.Open(new_path_).ok()) {
      return reporter_.Fail(Err::kCannotCreateNewFile, new_path_);
    }

    UpdateRecord rec;
    while (update_.NextHeader(rec)) {
      if (old_present_) {
        if (ErrorCode rc = CopyTo(rec.position); !rc.ok()) return rc;
      }
      if (ErrorCode rc = ApplyRecord(rec); !rc.ok()) return rc;
      reporter_.RefreshProgress();
    }

    ErrorCode result;
    if (old_present_) result = CopyTo(old_length_);
    (void)old_.Close();  // read only: nothing to lose
    update_.Close();
    if (!new_.Finish(req_.sync)) {
      // A write that fails (disk full) leaves an incomplete new file: it is
      // reported like a new file that cannot be created.
      if (result.ok()) {
        reporter_.ReportError(Err::kCannotCreateNewFile, new_path_);
        result = Err::kCannotCreateNewFile;
      }
      return result;
    }
    // An empty result means the update removes the file. A failed delete
    // leaves an empty file, which passes an expected CRC of 0 as well.
    if (new_.Length() == 0) (void)os::RemoveFile(new_path_);
    return result;
  }

 private:
  // Copy step: moves old bytes up to position p to the new file.
  ErrorCode CopyTo(std::int64_t p) {
    if (old_offset_ > p) return PositionInvalid(p);
    const std::span<std::uint8_t> buf = copy_;
    while (old_offset_ < p) {
      const auto want =
          static_cast<std::size_t>(std::min<std::int64_t>(p - old_offset_, static_cast<std::int64_t>(buf.size())));
      std::size_t got = 0;
      const bool read_ok = old_.Read(buf.data(), want, got).ok();
      if (got > 0 && !new_.Write(buf.data(), got)) return WriteFailed();
      old_offset_ += static_cast<std::int64_t>(got);
      // Bytes beyond the end of the old file (a position past it, or a file
      // that shrank meanwhile) are never invented: the position is invalid.
      if (!read_ok || got < want) return PositionInvalid(p);
    }
    return {};
  }

  ErrorCode PositionInvalid(std::int64_t p) {
    return reporter_.Fail(Err::kFilePositionInvalid, Decimal(old_offset_), Decimal(p));
  }

  ErrorCode WriteFailed() {
    return reporter_.Fail(Err::kCannotCreateNewFile, new_path_);
  }

  // Skips n old bytes by a relative forward seek. Skipping beyond the end is
  // allowed here; the next copy step or the end of the records reports it.
  void Skip(std::int64_t n) {
    if (n <= 0) return;
    (void)old_.Seek(n, os::SeekFrom::kCurrent);  // failure shows up as a short read later
    old_offset_ += n;
  }

  // Skips one old table record: its 2-byte length L, then L bytes.
  ErrorCode SkipRecord(const UpdateRecord& rec) {
    std::uint8_t raw[kRecordLengthSize];
    std::size_t got = 0;
    (void)old_.Read(raw, sizeof raw, got);  // a failed read counts as a missing field
    old_offset_ += static_cast<std::int64_t>(got);
    // No length field left at this place: deleting "one record" has no
    // defined size, so the record is refused rather than guessed.
    if (got < sizeof raw) return PositionInvalid(rec.position);
    Skip(ReadLE16(raw));
    return {};
  }

  bool WriteRecordLength(std::uint16_t length) {
    std::uint8_t raw[kRecordLengthSize];
    WriteLE16(raw, length);
    return new_.Write(raw, sizeof raw);
  }

  ErrorCode ApplyRecord(const UpdateRecord& rec) {
    const std::uint8_t* payload = nullptr;
    if (TokenHasPayload(rec.token)) {
      CDynBuf& buf = buffers_.payload;
      std::size_t got = 0;
      if (buf.Reserve(rec.length)) {
        update_.ReadPayload(buf.Data(), rec.length, got);
        buf.SetSize(got);
      }
      if (got < rec.length) {
        return reporter_.Fail(Err::kUnexpectedEofFile, Decimal(static_cast<std::int64_t>(got)), Decimal(rec.length));
      }
      payload = buf.Data();
    }
    // The payload is read before the token is judged.
    if (!TokenInSet(rec.token, req_.tokens)) return reporter_.Fail(Err::kInvalidToken, Decimal(rec.token));
    if (TokenNeedsOldFile(rec.token) && !old_present_) {
      return reporter_.Fail(Err::kOldFileMissing, Decimal(rec.token));
    }
    const bool records = req_.tokens == TokenSet::kFdt;
    switch (rec.token) {
      case token::kAdd:
        if (records && !WriteRecordLength(rec.length)) return WriteFailed();
        if (!new_.Write(payload, rec.length)) return WriteFailed();
        return {};
      case token::kAddBytes:
        if (!new_.Write(payload, rec.length)) return WriteFailed();
        return {};
      case token::kDelete:
        if (records) return SkipRecord(rec);
        Skip(rec.length);
        return {};
      case token::kDeleteBytes:
        Skip(rec.length);
        return {};
      case token::kReplace:
        if (records && !WriteRecordLength(rec.length)) return WriteFailed();
        if (!new_.Write(payload, rec.length)) return WriteFailed();
        if (records) return SkipRecord(rec);
        Skip(rec.length);
        return {};
      case token::kReplaceBytes:
        if (!new_.Write(payload, rec.length)) return WriteFailed();
        Skip(rec.length);
        return {};
      default:
        return Err::kInvalidToken;  // unreachable: judged above
    }
  }

  const ApplyRequest& req_;
  PatchBuffers& buffers_;
  ErrorReporter& reporter_;
  std::span<std::uint8_t> copy_;
  std::vector<std::uint8_t> own_copy_;
  UpdateDataReader update_;
  os::File old_;
  NewFileWriter new_;
  std::string new_path_;
  bool old_present_ = false;
  std::int64_t old_length_ = 0;  // 64-bit, so that old files beyond 2 GiB keep their tail
  std::int64_t old_offset_ = 0;
};

}  // namespace

void PatchErrorList::ReportError(ErrorCode code, Param p1, Param p2, Param p3, Param p4) {
  Entry e{code, {}};
  for (const Param& p : {p1, p2, p3, p4}) {
    if (p) e.params.emplace_back(*p);
  }
  entries.push_back(std::move(e));
}

bool NewFilePath(std::string_view dir, std::string_view path, std::string& out) {
  const std::size_t sep = os::FindLastSeparator(path);
  if (sep == std::string_view::npos) return false;
  out = os::JoinAsGiven(dir, path.substr(sep + 1));
  return true;
}

ErrorCode ApplyUpdate(const ApplyRequest& request, PatchBuffers& buffers, ErrorReporter& reporter) {
  Applier applier(request, buffers, reporter);
  return applier.Run();
}

ErrorCode ApplyUpdate(const std::string& old_path, const std::string& update_path, const std::string& new_path,
                      TokenSet tokens, ErrorReporter& reporter) {
  CDynBuf payload(kPatchPayloadGrowStep);
  std::vector<std::uint8_t> copy(kPatchCopyBufferSize);
  PatchBuffers buffers{payload, copy};
  ApplyRequest req;
  req.old_path = old_path;
  req.update_path = update_path;
  req.new_path = new_path;
  req.tokens = tokens;
  return ApplyUpdate(req, buffers, reporter);
}

}  // namespace veupd
