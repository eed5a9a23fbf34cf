// CFdbUpdateControl: the FDB delta driver (see fdb_update_control.h).
#include "tables/fdb_update_control.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "base/ascii.h"
#include "formats/delimited_file.h"
#include "formats/text_format.h"
#include "platform/platform.h"
#include "tables/update_fdb.h"

namespace veupd {
namespace {

constexpr std::uint32_t kHexBase = 16;
constexpr std::uint32_t kDecimalDigits = 10;

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A file search for the path finds a file or directory.
bool Found(const std::string& path) {
  os::DirSearch search;
  os::DirEntry entry;
  return search.Start(path).ok() && search.Next(entry);
}

// Runs `copy` (Open and Update or Delete). When it fails on an index that is
// missing, empty or not the database's own, as a run ended between replacing
// the database and its index leaves it, the index is rebuilt from the
// database and the copy runs once more. A database that cannot be indexed
// keeps the first failure and its index is not touched.
template <typename Copy>
bool CopyRepairingIndex(CUpdateFDB& fdb, const std::string& path, std::uint32_t key_length,
                        Copy copy) {
  if (copy()) return true;
  if (fdb.LastError() != CUpdateFDB::kIndexNotOpened && fdb.LastError() != CUpdateFDB::kIndexMismatch) {
    return false;
  }
  CUpdateFDB rebuild;
  if (!rebuild.SetDatabase(path, key_length) || !rebuild.WriteIndex()) return false;
  return copy();
}

}  // namespace

void CFdbUpdateControl::AddMessage(std::string_view pattern, std::string_view arg1,
                                   std::string_view arg2) {
  messages_ += FormatText(pattern, {arg1, arg2});
}

std::string CFdbUpdateControl::Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsWhiteSpace(text[begin])) ++begin;
  while (begin < end && text[begin] == '"') ++begin;
  while (end > begin && IsWhiteSpace(text[end - 1])) --end;
  while (end > begin && text[end - 1] == '"') --end;
  return std::string(text.substr(begin, end - begin));
}

std::uint32_t CFdbUpdateControl::HexToNumber(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A') + kDecimalDigits;
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a') + kDecimalDigits;
    } else if (c == ' ' || c == '\t') {
      continue;
    } else {
      break;
    }
    value = value * kHexBase + digit;  // wraps: only the last eight digits count
  }
  return value;
}

int CFdbUpdateControl::SortNames(std::string& block) {
  try {
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < block.size() && block[at] != '\0') {
      std::size_t nul = block.find('\0', at);
      if (nul == std::string::npos) nul = block.size();
      names.emplace_back(block, at, nul - at);
      at = nul + 1;
    }
    // Unsigned byte order, the order in which the merge compares keys. A
    // case-insensitive sort would put '[', '\', ']', '^', '_' and '`' before
    // the letters while the records keep them after 'Z', and names holding
    // them would then land out of order in the database.
    std::sort(names.begin(), names.end());
    std::string sorted;
    sorted.reserve(block.size());
    for (const std::string& name : names) {
      sorted.append(name);
      sorted.push_back('\0');
    }
    sorted.resize(std::max(sorted.size(), block.size()), '\0');
    block.swap(sorted);
    return static_cast<int>(names.size());
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

bool CFdbUpdateControl::OpenList(CDelimitedFile& list, const std::string& path) {
  list.SetDelimiter(CDelimitedFile::kDefaultMode, CDelimitedFile::kTab);
  if (list.Open(path.c_str())) return true;
  AddMessage("Could not open file %s!\n", path);
  return false;
}

bool CFdbUpdateControl::Run(std::string_view control_list) {
  const std::string path = Trim(control_list);
  CDelimitedFile list;
  if (!OpenList(list, path)) return false;
  const int records = list.CountRecords();
  int failures = 0;
  std::string database;
  std::string mode;
  std::string argument;
  for (int r = 0; r < records && list.ReadRecord(); ++r) {
    list.GetField(0, database);
    list.GetField(1, mode);
    list.GetField(2, argument);
    if (!UpdateEntry(database, mode, argument)) ++failures;  // later lines still run
  }
  list.Close();
  if (failures > 0) {
    AddMessage("Error during update using file %s!\n", path);
    return false;
  }
  return true;
}

bool CFdbUpdateControl::UpdateEntry(std::string_view database, std::string_view mode,
                                    std::string_view argument) {
  const std::string path = Trim(database);
  std::string arg = Trim(argument);
  bool ok = false;
  if (EqualsNoCase(mode, kModeDelete)) {
    arg = UpperAscii(arg);
    ok = DeleteEntry(path, arg);
  } else if (EqualsNoCase(mode, kModeListDelete)) {
    ok = DeleteList(path, arg);
  } else {
    ok = UpdateFiles(path, HexToNumber(mode), arg);
  }
  if (!ok) AddMessage("Error during update %s -> %s!\n", path, arg);
  return ok;
}

bool CFdbUpdateControl::UpdateFiles(std::string_view database, std::uint32_t expected_crc,
                                    std::string_view mask) {
  const std::string path(database);
  const std::string pattern(mask);
  if (!Found(path)) {
    AddMessage("FDB %s not found!\n", path);
    return false;
  }
  os::DirSearch search;
  if (!search.Start(pattern).ok()) {
    AddMessage("UpdateFile %s not found!\n", pattern);
    return false;
  }
  // The names block grows as needed instead of holding a fixed 65,535 bytes,
  // so a mask matching many files merges them all in one pass.
  std::string block;
  std::uint64_t size_sum = kSizeSumStart;
  os::DirEntry entry;
  while (search.Next(entry)) {
    if (entry.is_dir) continue;
    size_sum += entry.size;
    block.append(UpperAscii(entry.name));
    block.push_back('\0');
  }
  block.push_back('\0');
  const int count = SortNames(block);
  if (count < 0) {
    AddMessage("Allocation error by file %s!\n", pattern);
    return false;
  }
  // A mask matching only directories gives no key length; going on would
  // rewrite the index with 4-byte entries, so it fails with the database
  // untouched, as a mask matching nothing does.
  if (count == 0) {
    AddMessage("UpdateFile %s not found!\n", pattern);
    return false;
  }
  const auto key_length = static_cast<std::uint32_t>(block.find('\0'));
  const std::uint64_t estimate =
      size_sum + static_cast<std::uint64_t>(key_length + CUpdateFDB::kLengthSize) * static_cast<std::uint64_t>(count);

  CUpdateFDB fdb;
  // With keys of four bytes or less nothing would be left to compare, and
  // every name would replace whatever record it meets.
  if (pattern.find("*.*") != std::string::npos && key_length > kMaskLeftOutBytes) {
    fdb.SetLeftOutBytes(kMaskLeftOutBytes);
  }
  const std::size_t sep = os::FindLastSeparator(pattern);
  std::string directory;
  if (sep != std::string::npos) directory = pattern.substr(0, sep == 0 ? 1 : sep);

  const auto open_estimate =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(estimate, std::numeric_limits<std::uint32_t>::max()));
  const bool ok = CopyRepairingIndex(fdb, path, key_length,
                                     [&] {
                                       return fdb.Open(path, key_length, open_estimate) &&
                                              fdb.Update(block, directory, count);
                                     }) &&
                  fdb.Finish(expected_crc) && fdb.WriteIndex();
  if (!ok) AddMessage("%s\n", fdb.ErrorText());
  return ok;
}

bool CFdbUpdateControl::DeleteEntry(std::string_view database, std::string_view key) {
  const std::string path(database);
  if (!Found(path)) {
    AddMessage("FDB %s not found!\n", path);
    return false;
  }
  const auto key_length = static_cast<std::uint32_t>(
      std::min<std::size_t>(key.size(), std::numeric_limits<std::uint32_t>::max() - CUpdateFDB::kLengthSize));
  CUpdateFDB fdb;
  const bool ok = CopyRepairingIndex(fdb, path, key_length,
                                     [&] {
                                       return fdb.Open(path, key_length, key_length + CUpdateFDB::kLengthSize) &&
                                              fdb.Delete(key);
                                     }) &&
                  fdb.Finish(/*expected_crc=*/0) && fdb.WriteIndex();
  if (!ok) AddMessage("%s\n", fdb.ErrorText());
  return ok;
}

bool CFdbUpdateControl::DeleteList(std::string_view database, std::string_view list_path) {
  const std::string path(list_path);
  CDelimitedFile list;
  if (!OpenList(list, path)) return false;
  const int records = list.CountRecords();
  int failures = 0;
  std::string key;
  for (int r = 0; r < records && list.ReadRecord(); ++r) {
    list.GetField(0, key);
    if (!DeleteEntry(database, UpperAscii(key))) ++failures;  // later keys still run
  }
  list.Close();
  if (failures > 0) {
    AddMessage("Error during delete %s!\n", database);
    return false;
  }
  return true;
}

}  // namespace veupd
