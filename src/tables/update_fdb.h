// CUpdateFDB: changes one file database (".FDB" records plus ".FDX" index)
// without writing the old file: the new database is streamed into a ".TMP",
// checked, moved over the ".FDB", and a fresh ".FDX" is written.
// One object serves one change; update thread only (the tool uses it too).
//
// ".FDB": records of  u32 L (little-endian) | key (key length bytes) | data
// (L - key length bytes), the first being a header record with L = key length
// and no data, the others in ascending unsigned byte order of their keys.
// ".FDX": one entry per record, in the same order: key | u32 offset of the
// record's length field in the ".FDB"; the first entry is the header's (0).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace veupd {

class CUpdateFDB {
 public:
  // Last error. 2 to 9 are the database's own codes; the higher ones name
  // damaged input that is refused before it could spoil the new database.
  enum Error : std::uint32_t {
    kNoError = 0,
    kFdbNotOpened = 2,         // "Open error by file %s!" (.FDB)
    kUpdateFileNotOpened = 3,  // "Open error by file %s!" (update file)
    kIndexNotOpened = 4,       // "Open error by file %s!" (.FDX)
    kTmpNotCreated = 5,        // "Open error by file %s!" (.TMP)
    kNoIndexMemory = 6,        // "Allocation error by file %s!" (.FDX)
    kCrcMismatch = 7,          // "CRC error by file %s!" (.TMP)
    kFdbNotDeleted = 8,        // "Delete error by file %s!" (.FDB)
    kTmpNotRenamed = 9,        // "Rename error by files %s->%s!" (.TMP, .FDB)
    kIndexMismatch = 10,       // "Index error by file %s!" (.FDX, or .FDB when rebuilding)
    kBadKeyLength = 11,        // "Key length error by file %s!" (.FDB or update file)
    kReadFailed = 12,          // "Read error by file %s!"
    kWriteFailed = 13,         // "Write error by file %s!"
    kBadDatabaseName = 14,     // "Name error by file %s!" (path without ".FDB")
    kNamesUnsorted = 15,       // "Sort error by file %s!" (update file out of order)
  };

  static constexpr std::uint32_t kMaxKeyLength = 260;  // bounded by the record header area
  static constexpr std::uint32_t kLengthSize = 4;      // u32 record length / index offset
  static constexpr std::size_t kBlockSize = 65535;     // largest block copied at once
  static constexpr std::size_t kBufferSize = 65536;

  CUpdateFDB();
  virtual ~CUpdateFDB();
  CUpdateFDB(const CUpdateFDB&) = delete;
  CUpdateFDB& operator=(const CUpdateFDB&) = delete;

  // Loads the old index, opens the ".FDB", creates the ".TMP" and copies the
  // header record into it. The index is checked against the database first.
  bool Open(const std::string& path, std::uint32_t key_length, std::uint32_t estimate);
  // Merges `count` files of `directory` into the database. `names` holds
  // NUL-terminated upper-case names in ascending byte order; each record key
  // is the first key-length bytes of its name. A file of length 0 removes the
  // record of its key. Closes the ".FDB" and the ".TMP".
  bool Update(std::string_view names, const std::string& directory, int count);
  // Leaves out the record of `key` (exactly the key length); a missing key
  // copies the database unchanged. Closes the ".FDB" and the ".TMP".
  bool Delete(std::string_view key);
  // Checks the ".TMP" against expected_crc (0: no check), then replaces the
  // ".FDB" by it.
  bool Finish(std::uint32_t expected_crc);
  // Rebuilds the ".FDX" from the records of the ".FDB", under a temporary
  // name that then replaces the old index.
  bool WriteIndex();
  // Names the database and its key length without opening anything, for a
  // WriteIndex of a database built elsewhere (Open does this itself).
  bool SetDatabase(const std::string& path, std::uint32_t key_length);

  // Trailing key bytes that take no part in comparisons (0, or 4 for "*.*").
  void SetLeftOutBytes(std::uint32_t count) { left_out_ = count; }
  [[nodiscard]] std::uint32_t LastError() const { return error_; }
  [[nodiscard]] const std::string& ErrorText() const { return error_text_; }
  [[nodiscard]] std::uint32_t LastDataLength() const { return last_data_length_; }

  // The three paths of a database as the updater forms them: the ".FDX" and
  // ".TMP" are the upper-cased path with every ".FDB" replaced. False when
  // the upper-cased path holds no ".FDB".
  static bool IndexPath(std::string_view fdb_path, std::string& fdx_path);
  static bool TempPath(std::string_view fdb_path, std::string& tmp_path);

 protected:
  // Called after every block written; shows nothing here.
  virtual void OnProgress(std::uint32_t total, std::uint32_t done);

 private:
  bool Fail(Error code, std::string_view pattern, std::string_view path1,
            std::string_view path2 = {});
  // Open's steps: the old index read and sized against the database, its
  // entries checked for rising offsets and keys, the merge state reset.
  bool LoadIndex(std::uint64_t& fdx_length);
  bool IndexMatchesDatabase() const;
  void StartMerge(std::uint64_t fdx_length, std::uint32_t estimate);
  bool CopyUpTo(std::uint64_t offset);
  bool AppendFile(std::string_view name, const std::string& directory);
  // Drops old record i from the copy: the read position jumps past it.
  bool SkipRecord(std::uint32_t i);
  // Checks the record headers that pass through a copied block against the
  // old index, so that a database that does not match it is never written.
  bool CheckChain(const std::uint8_t* data, std::size_t size, std::uint64_t pos);
  // Every record written must follow the one before in key order, or the
  // next search would miss records: with trailing bytes left out of the
  // comparison a new name can replace a record yet sort after its neighbour.
  bool TakeKey(const std::uint8_t* key);
  bool CheckChainEnd();
  bool WriteIndexTo(os::File& fdx);
  bool FinishCopy(bool ok);
  // Every byte of the ".TMP" goes through here. Each block is read back from
  // the file over data at once, while it is still in the processor's cache,
  // and folded into the CRC that Finish checks.
  bool WriteTmp(std::uint8_t* data, std::size_t size);
  // The ".FDX" entry of a record written to the ".TMP" at offset.
  void GatherEntry(const std::uint8_t* key, std::uint64_t offset);
  // Writes the entries gathered while the ".TMP" was written, which are what
  // reading the new ".FDB" back would give.
  bool WriteGatheredIndex(os::File& fdx);
  void CloseFiles();

  [[nodiscard]] const std::uint8_t* Entry(std::uint32_t i) const;  // 0 = header entry
  [[nodiscard]] std::uint32_t EntryOffset(std::uint32_t i) const;
  [[nodiscard]] int CompareKey(const std::uint8_t* a, const std::uint8_t* b) const;
  [[nodiscard]] std::uint64_t OldEnd() const { return fdb_length_; }

  std::uint32_t error_ = kNoError;
  std::string error_text_;
  std::uint32_t left_out_ = 0;
  std::uint32_t last_data_length_ = 0;
  std::uint64_t written_ = 0;
  std::uint32_t progress_total_ = 0;
  // The whole ".FDX" as read: the header entry, then old_count_ old entries.
  std::vector<std::uint8_t> index_;
  std::uint32_t old_count_ = 0;
  std::uint32_t entry_length_ = 0;
  bool append_only_ = true;
  std::uint32_t key_length_ = 0;
  std::string fdx_path_;
  os::File tmp_;
  std::string tmp_path_;
  os::File fdb_;
  std::string fdb_path_;
  std::uint64_t fdb_length_ = 0;
  std::uint64_t read_pos_ = 0;
  // Record chain check: where the next record header of the old database
  // starts, which index entry it must match (0 = header record), and the
  // header bytes gathered so far when it straddles two blocks.
  std::uint64_t chain_next_ = 0;
  std::uint32_t chain_entry_ = 0;
  std::vector<std::uint8_t> chain_header_;
  std::vector<std::uint8_t> last_key_;  // of the last record written to the ".TMP"
  bool tmp_complete_ = false;           // the ".TMP" was written whole and closed
  // CRC of the ".TMP" as read back block by block; when a read-back failed,
  // Finish reads the whole file again instead.
  std::uint32_t read_back_crc_ = 0;
  bool read_back_ok_ = false;
  // The disk writes of the ".TMP" start behind the merge, on a thread of
  // its own: replacing the database makes the file system write the whole
  // new file before the rename returns, and then little is left to write.
  class WriteBehind {
   public:
    explicit WriteBehind(os::File& file);
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    // The file is written up to end.
    void Written(std::uint64_t end);

   private:
    void Run();
    os::File& file_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::uint64_t end_ = 0;
    bool stop_ = false;
    std::thread thread_;  // last: starts when the rest is ready
  };
  std::uint64_t tmp_end_ = 0;       // bytes written to the ".TMP"
  std::uint64_t written_back_ = 0;  // handed to the write-behind so far
  std::unique_ptr<WriteBehind> write_behind_;
  bool write_behind_off_ = false;  // the thread could not be started
  bool gather_ = false;                 // new_index_ holds every record so far
  std::vector<std::uint8_t> new_index_;  // the ".FDX" of the ".TMP", entry by entry
  std::vector<std::uint8_t> buffer_;
};

}  // namespace veupd
