// File database (.FDB records and .FDX index). Input: "KEYLENGTH OP
// LEFTOUT" (OP: U merge the named files as given, S sort them first as the
// update-FDB command does, D delete the first name's key, I rebuild the index
// only), the .FDB, the .FDX and the names (one a line),
// joined by the part marker. A change that succeeds must leave a database
// and index that open again.
#include <algorithm>
#include <sstream>

#include "fuzz_support.h"
#include "tables/fdb_update_control.h"
#include "tables/update_fdb.h"

namespace {

using veupd::CUpdateFDB;

// The files a merge can take, made once: a name of each key length the
// seeds use, and an empty file (which removes its record).
const std::string& UpdateFolder() {
  static const std::string folder = [] {
    const std::string dir = veupd::fuzz::Scratch().File("UPD");
    std::filesystem::create_directory(dir);
    const std::pair<const char*, const char*> files[] = {
        {"FAXES.TXT", "Fax numbers\r\n"}, {"INTRO.TXT", "Introduction, new\r\n"},
        {"ORDER.TXT", "How to order\r\n"}, {"PRICE.TXT", "Prices 2026\r\n"},
        {"ZZZZZ.TXT", "Last one\r\n"},     {"A.TXT", "a"},
        {"EMPTY.TXT", ""},                 {"B", "b"}};
    for (const auto& [name, text] : files) veupd::fuzz::WriteFile(dir + "/" + name, text);
    return dir;
  }();
  return folder;
}

// Names stay inside the update folder.
bool UsableName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         name.find("..") == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veupd;
  const auto parts = fuzz::SplitParts(data, size, 4);
  std::istringstream params{std::string(parts[0])};
  unsigned key_length = 0;
  char op = 'U';
  unsigned left_out = 0;
  params >> key_length >> op >> left_out;
  key_length = std::min(key_length, CUpdateFDB::kMaxKeyLength + 1);

  auto& scratch = fuzz::Scratch();
  const std::string& folder = UpdateFolder();
  const std::string db = scratch.File("DB.FDB");
  const std::string fdx = scratch.File("DB.FDX");
  fuzz::WriteFile(db, parts[1]);
  fuzz::WriteFile(fdx, parts[2]);
  fuzz::RemoveFile(scratch.File("DB.TMP"));

  std::string names;
  int count = 0;
  for (const std::string& name : fuzz::Lines(parts[3], 16)) {
    if (!UsableName(name)) continue;
    names += name;
    names += '\0';
    ++count;
  }

  if (op == 'S') {
    const int sorted = CFdbUpdateControl::SortNames(names);
    VEUPD_FUZZ_CHECK(sorted == count);
    std::string_view previous;
    for (std::size_t at = 0; at < names.size() && names[at] != '\0';) {
      const std::string_view name(names.data() + at);
      VEUPD_FUZZ_CHECK(previous <= name);
      previous = name;
      at += name.size() + 1;
    }
  }

  CUpdateFDB fdb;
  fdb.SetLeftOutBytes(left_out % 8);
  bool changed = false;
  if (op == 'I') {
    changed = fdb.SetDatabase(db, key_length) && fdb.WriteIndex();
  } else if (fdb.Open(db, key_length, 0)) {
    std::string key = names.substr(0, names.find('\0'));
    key.resize(key_length, ' ');
    const bool copied = op == 'D' ? fdb.Delete(key) : fdb.Update(names, folder, count);
    changed = copied && fdb.Finish(0) && fdb.WriteIndex();
  }
  VEUPD_FUZZ_CHECK(changed || fdb.LastError() != CUpdateFDB::kNoError);
  // A rebuilt index says nothing about the order of the records; a merge
  // or delete only ever writes them in order.
  if (changed && op != 'I') {
    CUpdateFDB again;
    if (!again.Open(db, key_length, 0)) {
      std::fprintf(stderr, "reopen after a change: %s\n", again.ErrorText().c_str());
      VEUPD_FUZZ_CHECK(false);
    }
    VEUPD_FUZZ_CHECK(again.Delete(std::string(key_length, '\xFF')));
  }
  return 0;
}
