// veupd-tool fdb: makes file databases (".FDB" plus ".FDX") from a folder,
// lists and extracts their records, and checks that index and records agree.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "formats/byte_order.h"
#include "formats/crc32.h"
#include "formats/text_format.h"
#include "platform/platform.h"
#include "tables/fdb_update_control.h"
#include "tables/update_fdb.h"
#include "tool_registry.h"

namespace veupd::tool {
namespace {

constexpr std::uint32_t kLengthSize = CUpdateFDB::kLengthSize;
constexpr std::size_t kBlock = CUpdateFDB::kBlockSize;
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;


// A key as text: printable bytes as they are, the others as \xHH.
std::string ShowKey(std::string_view key) {
  std::string out;
  for (const char c : key) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out.push_back(c);
    } else {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out.append(esc);
    }
  }
  return out;
}

int Problem(const std::string& what) {
  std::fprintf(stderr, "veupd-tool fdb: %s\n", what.c_str());
  return kExitFailed;
}

struct RecordInfo {
  std::string key;
  std::uint64_t offset = 0;
  std::uint32_t data_length = 0;
};

// Walks the records of a database from its header record on, checking that
// each record's length stays within the file.
class RecordWalker {
 public:
  using DataFn = std::function<bool(const std::uint8_t*, std::size_t)>;

  std::string Open(const std::string& path) {
    if (!file_.Open(path, os::OpenMode::kReadDenyWrite).ok() || !file_.Length(length_).ok()) {
      return "cannot open " + path;
    }
    std::uint8_t head[kLengthSize];
    std::size_t got = 0;
    if (!file_.Read(head, kLengthSize, got).ok() || got != kLengthSize) return "no header record";
    key_length_ = ReadLE32(head);
    if (key_length_ == 0 || key_length_ > CUpdateFDB::kMaxKeyLength) {
      return "header record gives key length " + std::to_string(key_length_) + " (1 to 260 allowed)";
    }
    if (length_ < kLengthSize + key_length_) return "header record cut short";
    header_key_.resize(key_length_);
    if (!file_.Read(header_key_.data(), key_length_, got).ok() || got != key_length_) return "read error";
    position_ = kLengthSize + key_length_;
    return {};
  }

  // Reads the next record's header; false at the end, and problem() then
  // tells whether the end was clean. Follow with Data() or Skip().
  bool Next(RecordInfo& record) {
    if (position_ == length_) return false;
    std::vector<std::uint8_t> head(kLengthSize + key_length_);
    std::size_t got = 0;
    if (position_ + head.size() > length_ || !file_.Read(head.data(), head.size(), got).ok() || got != head.size()) {
      problem_ = "record at " + std::to_string(position_) + " cut short (file ends at " + std::to_string(length_) + ")";
      return false;
    }
    const std::uint32_t length = ReadLE32(head.data());
    if (length < key_length_ || position_ + kLengthSize + length > length_) {
      problem_ = "record at " + std::to_string(position_) + " has length " + std::to_string(length) +
                 ", below the key length or past the file end";
      return false;
    }
    record.key.assign(reinterpret_cast<const char*>(head.data()) + kLengthSize, key_length_);
    record.offset = position_;
    record.data_length = length - key_length_;
    position_ += kLengthSize + length;
    return true;
  }

  bool Skip() {
    if (file_.Seek(static_cast<std::int64_t>(position_), os::SeekFrom::kBegin).ok()) return true;
    problem_ = "seek error";
    return false;
  }

  // Hands the record's data over block by block.
  bool Data(const RecordInfo& record, const DataFn& fn) {
    std::vector<std::uint8_t> buf(std::min<std::size_t>(kBlock, record.data_length));
    std::size_t got = 0;
    for (std::uint32_t left = record.data_length; left > 0;) {
      const std::size_t want = std::min<std::size_t>(kBlock, left);
      if (!file_.Read(buf.data(), want, got).ok() || got != want || !fn(buf.data(), want)) {
        problem_ = "read or write error in record " + ShowKey(record.key);
        return false;
      }
      left -= static_cast<std::uint32_t>(want);
    }
    return true;
  }

  [[nodiscard]] const std::string& problem() const { return problem_; }
  [[nodiscard]] std::uint32_t key_length() const { return key_length_; }
  [[nodiscard]] const std::string& header_key() const { return header_key_; }

 private:
  os::File file_;
  std::uint64_t length_ = 0;
  std::uint64_t position_ = 0;
  std::uint32_t key_length_ = 0;
  std::string header_key_;
  std::string problem_;
};

// ------------------------------------------------------------------ create

// The files of a folder, their names in capitals; empty files get no record.
std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  os::DirSearch search;
  os::DirEntry entry;
  if (!search.Start(os::JoinPath(folder, "*")).ok()) return names;
  while (search.Next(entry)) {
    if (entry.is_dir) continue;
    if (entry.size == 0) {
      std::fprintf(stderr, "veupd-tool fdb: %s is empty and gets no record\n", entry.name.c_str());
      continue;
    }
    names.push_back(UpperAscii(entry.name));
  }
  return names;
}

// Why the sorted names cannot be the keys, or empty when they can.
std::string KeyProblem(const std::vector<std::string>& names, std::uint32_t key_length, bool cut_names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].size() < key_length || (!cut_names && names[i].size() != key_length)) {
      return names[i] + ": every name needs the key length " + std::to_string(key_length) +
             " (or give --key-length to cut longer names)";
    }
    if (i > 0 && names[i - 1].compare(0, key_length, names[i], 0, key_length) == 0) {
      return names[i - 1] + " and " + names[i] + " give the same key";
    }
  }
  return {};
}

// An empty database: the header record and the header entry only. Returns
// the file that could not be written, or empty.
std::string WriteEmptyDatabase(const std::string& db, const std::string& fdx, std::uint32_t key_length,
                               std::string header) {
  header.resize(key_length, '\0');
  std::string head;
  AppendLE32(head, key_length);
  head += header;
  std::string head_entry = header;
  AppendLE32(head_entry, 0);
  for (const auto& [path, bytes] : {std::pair{db, head}, std::pair{fdx, head_entry}}) {
    os::File out;
    if (!out.Open(path, os::OpenMode::kCreateNew).ok() || !out.Write(bytes.data(), bytes.size()).ok() ||
        !out.Close().ok()) {
      return path;
    }
  }
  return {};
}

// Makes an empty database, then the updater's own merge adds every file.
int Create(const std::vector<std::string>& args) {
  std::string db;
  std::string folder;
  std::uint32_t key_length = 0;
  std::string header;
  bool cut_names = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--key-length" && i + 1 < args.size()) {
      key_length = static_cast<std::uint32_t>(std::strtoul(args[++i].c_str(), nullptr, 10));
      if (key_length == 0 || key_length > CUpdateFDB::kMaxKeyLength) return Problem("--key-length must be 1 to 260");
      cut_names = true;
    } else if (args[i] == "--header" && i + 1 < args.size()) {
      header = args[++i];
    } else if (db.empty()) {
      db = args[i];
    } else if (folder.empty()) {
      folder = args[i];
    } else {
      return Problem("unexpected argument " + args[i]);
    }
  }
  if (db.empty() || folder.empty()) return Problem("usage: fdb create DB.FDB FOLDER [--key-length N] [--header TEXT]");
  std::string fdx;
  if (!CUpdateFDB::IndexPath(db, fdx)) return Problem(db + ": the name must end in .FDB");
  if (os::Exists(db) || os::Exists(fdx)) return Problem(db + " or its index exists already");

  std::vector<std::string> names = FileNames(folder);
  if (names.empty()) return Problem("no files in " + folder);
  std::sort(names.begin(), names.end());  // byte order, as the records are kept
  if (key_length == 0) key_length = static_cast<std::uint32_t>(names.front().size());
  if (std::string problem = KeyProblem(names, key_length, cut_names); !problem.empty()) return Problem(problem);
  if (std::string failed = WriteEmptyDatabase(db, fdx, key_length, header); !failed.empty()) {
    return Problem("cannot write " + failed);
  }
  std::string block;
  for (const std::string& name : names) {
    block += name;
    block.push_back('\0');
  }
  block.push_back('\0');
  CUpdateFDB fdb;
  if (!fdb.Open(db, key_length, 0) || !fdb.Update(block, folder, static_cast<int>(names.size())) ||
      !fdb.Finish(0) || !fdb.WriteIndex()) {
    return Problem(fdb.ErrorText());
  }
  CCrc32 crc;
  std::uint32_t value = 0;
  if (!crc.FileCrc(value, db)) return Problem("cannot read " + db);
  std::printf("%s: %zu records, key length %u, CRC %s\n", db.c_str(), names.size(),
              static_cast<unsigned>(key_length), CrcHex(value).c_str());
  return kExitOk;
}

// ------------------------------------------------------------------ list

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) return Problem("usage: fdb list DB.FDB");
  RecordWalker walker;
  if (std::string problem = walker.Open(args[0]); !problem.empty()) return Problem(args[0] + ": " + problem);
  std::printf("# key length %u, header key %s\n# key\toffset\tsize\tcrc\n", static_cast<unsigned>(walker.key_length()),
              ShowKey(walker.header_key()).c_str());
  std::uint32_t crc = 0;
  const RecordWalker::DataFn fold = [&crc](const std::uint8_t* data, std::size_t size) {
    CCrc32::AddBytes(crc, data, size);
    return true;
  };
  RecordInfo record;
  while (walker.Next(record) && walker.Data(record, fold)) {
    std::printf("%s\t%llu\t%u\t%s\n", ShowKey(record.key).c_str(), static_cast<unsigned long long>(record.offset),
                static_cast<unsigned>(record.data_length), CrcHex(crc).c_str());
    crc = 0;
  }
  return walker.problem().empty() ? kExitOk : Problem(args[0] + ": " + walker.problem());
}

// ------------------------------------------------------------------ extract

// A key as a file name: trailing NUL padding dropped; nothing that could
// leave the output folder.
bool FileNameOfKey(std::string_view key, std::string& name) {
  while (!key.empty() && key.back() == '\0') key.remove_suffix(1);
  name.assign(key);
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return os::IsSeparator(c) || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20;
  });
}

int Extract(const std::vector<std::string>& args) {
  if (args.size() < 2) return Problem("usage: fdb extract DB.FDB OUTDIR [KEY...]");
  std::vector<std::string> wanted;
  for (std::size_t i = 2; i < args.size(); ++i) wanted.push_back(UpperAscii(args[i]));
  std::vector<bool> seen(wanted.size(), false);
  if (!os::IsDirectory(args[1]) && !os::MakeDirectory(args[1]).ok()) return Problem("cannot create " + args[1]);
  RecordWalker walker;
  if (std::string problem = walker.Open(args[0]); !problem.empty()) return Problem(args[0] + ": " + problem);

  int count = 0;
  RecordInfo record;
  while (walker.Next(record)) {
    if (!wanted.empty()) {
      const std::string upper = UpperAscii(std::string_view(record.key).substr(0, record.key.find('\0')));
      const auto it = std::find(wanted.begin(), wanted.end(), upper);
      if (it == wanted.end()) {
        if (!walker.Skip()) break;
        continue;
      }
      seen[static_cast<std::size_t>(it - wanted.begin())] = true;
    }
    std::string name;
    if (!FileNameOfKey(record.key, name)) return Problem("key " + ShowKey(record.key) + " is no safe file name");
    const std::string target = os::JoinPath(args[1], name);
    os::File out;
    if (!out.Open(target, os::OpenMode::kCreateTruncate).ok()) return Problem("cannot create " + target);
    const RecordWalker::DataFn write = [&out](const std::uint8_t* data, std::size_t size) {
      return out.Write(data, size).ok();
    };
    if (!walker.Data(record, write)) break;
    if (!out.Close().ok()) return Problem("cannot write " + target);
    ++count;
  }
  if (!walker.problem().empty()) return Problem(args[0] + ": " + walker.problem());
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (!seen[i]) return Problem("no record " + wanted[i]);
  }
  std::printf("%d records extracted to %s\n", count, args[1].c_str());
  return kExitOk;
}

// ------------------------------------------------------------------ check

// Walks the records beside the index entries, the header entry first; each
// mismatch goes to problems. Returns the number of records walked.
std::uint64_t CompareWithIndex(RecordWalker& walker, os::File& fdx, std::vector<std::string>& problems) {
  const std::uint32_t key_length = walker.key_length();
  const std::size_t entry_length = key_length + kLengthSize;
  std::vector<std::uint8_t> entry(entry_length);
  std::uint64_t entries_read = 0;
  const auto next_entry = [&]() {
    std::size_t got = 0;
    ++entries_read;
    return fdx.Read(entry.data(), entry_length, got).ok() && got == entry_length;
  };
  if (!next_entry() || std::memcmp(entry.data(), walker.header_key().data(), key_length) != 0 ||
      ReadLE32(entry.data() + key_length) != 0) {
    problems.push_back("index entry 0 is not the header record's");
  }
  RecordInfo record;
  std::string previous;
  std::uint64_t records = 0;
  constexpr std::size_t kMaxProblems = 20;
  while (problems.size() < kMaxProblems && walker.Next(record) && walker.Skip()) {
    ++records;
    if (!previous.empty() && !(previous < record.key)) {
      problems.push_back("key " + ShowKey(record.key) + " at " + std::to_string(record.offset) +
                         " does not follow " + ShowKey(previous));
    }
    previous = record.key;
    if (!next_entry()) {
      problems.push_back("index ends before record " + ShowKey(record.key));
      continue;
    }
    const std::string key(reinterpret_cast<const char*>(entry.data()), key_length);
    const std::uint32_t offset = ReadLE32(entry.data() + key_length);
    if (key != record.key || offset != record.offset) {
      problems.push_back("index entry " + std::to_string(entries_read - 1) + " (" + ShowKey(key) + " at " +
                         std::to_string(offset) + ") does not match record " + ShowKey(record.key) + " at " +
                         std::to_string(record.offset));
    }
  }
  return records;
}

int Check(const std::vector<std::string>& args) {
  if (args.size() != 1) return Problem("usage: fdb check DB.FDB");
  const std::string& db = args[0];
  std::string fdx_path;
  if (!CUpdateFDB::IndexPath(db, fdx_path)) return Problem(db + ": the name must end in .FDB");
  RecordWalker walker;
  if (std::string problem = walker.Open(db); !problem.empty()) return Problem(db + ": " + problem);
  const std::uint32_t key_length = walker.key_length();
  const std::size_t entry_length = key_length + kLengthSize;

  os::File fdx;
  std::uint64_t fdx_length = 0;
  if (!fdx.Open(fdx_path, os::OpenMode::kReadDenyWrite).ok() || !fdx.Length(fdx_length).ok()) {
    return Problem("cannot open " + fdx_path);
  }
  std::vector<std::string> problems;
  if (fdx_length % entry_length != 0) {
    problems.push_back(fdx_path + ": length " + std::to_string(fdx_length) + " is no multiple of " +
                       std::to_string(entry_length));
  }
  const std::uint64_t records = CompareWithIndex(walker, fdx, problems);
  if (!walker.problem().empty()) problems.push_back(db + ": " + walker.problem());
  if (fdx_length / entry_length != records + 1) {
    problems.push_back(fdx_path + ": " + std::to_string(fdx_length / entry_length) + " entries for " +
                       std::to_string(records + 1) + " records");
  }
  if (!problems.empty()) {
    for (const std::string& p : problems) std::fprintf(stderr, "veupd-tool fdb check: %s\n", p.c_str());
    return kExitFailed;
  }
  CCrc32 crc;
  std::uint32_t value = 0;
  if (!crc.FileCrc(value, db)) return Problem("cannot read " + db);
  std::printf("OK: %llu records, key length %u, CRC %s\n", static_cast<unsigned long long>(records),
              static_cast<unsigned>(key_length), CrcHex(value).c_str());
  return kExitOk;
}

// ------------------------------------------------------------------ update, run

// The updater's own change, run here: to try a change on a copy and learn
// the CRC the new database will have.
int Update(const std::vector<std::string>& args) {
  if (args.size() != 3) return Problem("usage: fdb update DB.FDB CRC|DELETE|LIST_DELETE ARGUMENT");
  CFdbUpdateControl driver;
  if (driver.UpdateEntry(args[0], args[1], args[2])) return kExitOk;
  std::fputs(driver.GetMessages().c_str(), stderr);
  return kExitFailed;
}

int Run(const std::vector<std::string>& args) {
  if (args.size() != 1) return Problem("usage: fdb run CONTROL_LIST");
  CFdbUpdateControl driver;
  if (driver.Run(args[0])) return kExitOk;
  std::fputs(driver.GetMessages().c_str(), stderr);
  return kExitFailed;
}

int FdbMain(const std::vector<std::string>& args) {
  if (args.empty()) return Problem("usage: fdb create|list|extract|check|update|run ...");
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "create") return Create(rest);
  if (args[0] == "list") return List(rest);
  if (args[0] == "extract") return Extract(rest);
  if (args[0] == "check") return Check(rest);
  if (args[0] == "update") return Update(rest);
  if (args[0] == "run") return Run(rest);
  Problem("unknown fdb command " + args[0]);
  return kExitUsage;
}

const ToolRegistrar kRegistrar({"fdb",
                                "  fdb create DB.FDB FOLDER [--key-length N] [--header TEXT]\n"
                                "                     database and index from the files of a folder\n"
                                "  fdb list DB.FDB    keys, offsets, data sizes and CRC-32 of the records\n"
                                "  fdb extract DB.FDB OUTDIR [KEY...]  records back to files\n"
                                "  fdb check DB.FDB   index matches records, keys ascending, lengths agree\n"
                                "  fdb update DB.FDB CRC|DELETE|LIST_DELETE ARGUMENT\n"
                                "                     one change as the updater makes it (CRC 0: no check)\n"
                                "  fdb run LIST       the changes of a TAB-delimited control list",
                                FdbMain});

}  // namespace
}  // namespace veupd::tool
