// Builds update data files: the edit records that turn an old file into a new
// one, byte level ('A', 'D', 'U') or, for table data files, record level
// ('A', 'D', 'U' on whole length-prefixed records, 'a', 'd', 'u' inside them).
// Streams both files through fixed windows, so memory does not grow with the
// file sizes. One object per thread; used by veupd-tool and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "patch/update_data.h"
#include "platform/platform.h"

namespace veupd {

// Bytes read at any position, as often as needed.
class DiffSource {
 public:
  virtual ~DiffSource() = default;
  [[nodiscard]] virtual std::uint64_t Size() const = 0;
  // Reads exactly size bytes at pos (pos + size <= Size()); false on a read
  // error.
  [[nodiscard]] virtual bool ReadAt(std::uint64_t pos, std::uint8_t* out, std::size_t size) = 0;
  // The whole content when it already lies in memory (then no copy is made).
  [[nodiscard]] virtual const std::uint8_t* Data() const { return nullptr; }
};

// Bytes owned by the caller; they must stay alive while the source is used.
class MemorySource : public DiffSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  [[nodiscard]] std::uint64_t Size() const override { return bytes_.size(); }
  [[nodiscard]] bool ReadAt(std::uint64_t pos, std::uint8_t* out, std::size_t size) override;
  [[nodiscard]] const std::uint8_t* Data() const override { return bytes_.data(); }

 private:
  std::span<const std::uint8_t> bytes_;
};

class FileSource : public DiffSource {
 public:
  [[nodiscard]] os::OsResult Open(const std::string& path);
  [[nodiscard]] std::uint64_t Size() const override { return size_; }
  [[nodiscard]] bool ReadAt(std::uint64_t pos, std::uint8_t* out, std::size_t size) override;

 private:
  os::File file_;
  std::uint64_t size_ = 0;
  std::uint64_t file_pos_ = 0;  // where the next read starts without a seek
};

// Where the records go, in file order.
class DiffSink {
 public:
  virtual ~DiffSink() = default;
  // payload holds rec.length bytes, or nothing for 'D' and 'd'. False stops
  // the diff.
  [[nodiscard]] virtual bool Put(const UpdateRecord& rec, std::span<const std::uint8_t> payload) = 0;
};

// Keeps the records as the bytes of an update data file.
class BufferSink : public DiffSink {
 public:
  [[nodiscard]] bool Put(const UpdateRecord& rec, std::span<const std::uint8_t> payload) override;
  std::vector<std::uint8_t> bytes;
};

class WriterSink : public DiffSink {
 public:
  explicit WriterSink(UpdateDataWriter& writer) : writer_(writer) {}
  [[nodiscard]] bool Put(const UpdateRecord& rec, std::span<const std::uint8_t> payload) override;
  [[nodiscard]] const os::OsResult& LastResult() const { return last_; }

 private:
  UpdateDataWriter& writer_;
  os::OsResult last_;
};

struct DiffOptions {
  // Table data files: records of a 2-byte little-endian length and content.
  bool records = false;
  // How far ahead (in bytes of each file) a change is looked for before it is
  // written as a plain replacement. Memory is about twice this.
  std::size_t max_search = std::size_t{8} << 20;
};

struct DiffStats {
  std::uint64_t records = 0;        // edit records written
  std::uint64_t payload_bytes = 0;  // their payloads
  [[nodiscard]] std::uint64_t UpdateSize() const { return records * kRecordHeaderSize + payload_bytes; }
};

struct DiffResult {
  bool ok = false;
  std::string message;  // why it failed, for the user
  DiffStats stats;
};

// Writes to sink the records that turn old_file into new_file. old_file null
// means the old file is absent: only 'A' records are written.
[[nodiscard]] DiffResult MakeUpdate(DiffSource* old_file, DiffSource& new_file, DiffSink& sink,
                                    const DiffOptions& options);

// The same on files; a missing old_path counts as absent. The update file
// is removed again when the diff fails.
[[nodiscard]] DiffResult MakeUpdateFile(const std::string& old_path, const std::string& new_path,
                                        const std::string& update_path, const DiffOptions& options);

}  // namespace veupd
