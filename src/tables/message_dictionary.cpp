// The message dictionary on an FDT table: the language code replaces the run
// of '@' in the data and index path patterns; each lookup is one index search
// and one record read.
#include "tables/message_dictionary.h"

#include <algorithm>

namespace veupd {
namespace {

constexpr char kLanguageMark = '@';

// Replaces everything from the first to the last '@' by the code; false when
// the pattern has none.
bool FillPattern(const std::string& pattern, const std::string& code, std::string& path) {
  const std::size_t first = pattern.find(kLanguageMark);
  if (first == std::string::npos) return false;
  const std::size_t last = pattern.rfind(kLanguageMark);
  path = pattern.substr(0, first) + code + pattern.substr(last + 1);
  return true;
}

// The path argument, or the directory, followed by the header's file name
// when the taken text ends in a separator.
std::string MakePattern(const char* argument, const std::string& directory, const std::string& name) {
  const std::string taken = (argument != nullptr && *argument != '\0') ? argument : directory;
  if (!taken.empty() && os::IsSeparator(taken.back())) return taken + name;
  return taken;
}

}  // namespace

TDM_FdtTessel::TDM_FdtTessel(const char* structure_file, const char* language, const char* text_field,
                             const char* data_path, const char* index_path) {
  if (structure_file != nullptr && language != nullptr) {
    (void)Open(structure_file, language, text_field, data_path, index_path);  // IsOpen() tells
  }
}

TDM_FdtTessel::~TDM_FdtTessel() { TDM_FdtTessel::Close(); }

bool TDM_FdtTessel::Open(const char* structure_file, const char* language, const char* text_field,
                         const char* data_path, const char* index_path) {
  open_ = false;
  std::string data_name;
  std::string index_name;
  if (structure_file == nullptr || !NewStru(structure_file, data_name, index_name)) return false;
  const std::uint16_t entry_length = EntryLength();
  key_length_ = entry_length > fdt::kEntryOffsetSize
                    ? static_cast<std::uint16_t>(entry_length - fdt::kEntryOffsetSize)
                    : 0;
  const std::string structure(structure_file);
  const std::size_t separator = os::FindLastSeparator(structure);
  const std::string directory = separator == std::string::npos ? std::string() : structure.substr(0, separator + 1);
  data_pattern_ = MakePattern(data_path, directory, data_name);
  index_pattern_ = MakePattern(index_path, directory, index_name);
  language_.clear();
  const bool ok = [&] {
    if (language != nullptr && (data_pattern_.find(kLanguageMark) == std::string::npos ||
                                index_pattern_.find(kLanguageMark) == std::string::npos)) {
      return false;
    }
    return SetLanguage(language) && SelectField(text_field);
  }();
  if (!ok) {
    Close();
    return false;
  }
  open_ = true;
  return true;
}

bool TDM_FdtTessel::SetLanguage(const char* language) {
  std::string data_path = data_pattern_;
  std::string index_path = index_pattern_;
  if (language != nullptr) {
    if (language_ == language) return !language_.empty();
    if (!FillPattern(data_pattern_, language, data_path) || !FillPattern(index_pattern_, language, index_path)) {
      return false;
    }
  }
  if (!SetFiles(data_path, index_path)) return false;
  (void)ChangeFiles(data_path.c_str(), index_path.c_str(), 0);  // SetFiles has just checked both
  (void)OpenFiles(fdt::kOpenAll);  // a failure shows as empty lookups
  language_ = language != nullptr ? language : "";
  return true;
}

bool TDM_FdtTessel::SelectField(const char* name) {
  if (name == nullptr) return false;
  bool found = false;
  const std::uint16_t index = FindField(name, found);
  if (!found) return false;
  // A list field would yield an element count, not a text.
  const std::uint16_t kind = Field(static_cast<std::int16_t>(index)).kind;
  if (kind != fdt::kKindSingle) return false;
  text_field_ = index;
  return true;
}

void TDM_FdtTessel::Close() {
  open_ = false;
  FDT::FreeStru();
  text_field_ = kNoField;
}

void TDM_FdtTessel::FreeStru() { Close(); }

const char* TDM_FdtTessel::GetText(std::uint32_t number) {
  if (!open_ || text_field_ == kNoField || key_length_ == 0) return EmptyText();
  std::uint8_t key[4];
  WriteLE32(key, number);
  // Entry lengths other than 8 compare the first E - 4 bytes of the number.
  const auto key_length = static_cast<std::int16_t>(std::min<std::uint16_t>(key_length_, sizeof key));
  if (!Search(key, key_length)) return EmptyText();
  return GetField(static_cast<std::int16_t>(text_field_));
}

bool TDM_FdtTessel::GetText(std::uint32_t number, std::string& out) {
  out.clear();
  if (!open_ || text_field_ == kNoField || key_length_ == 0) return false;
  std::uint8_t key[4];
  WriteLE32(key, number);
  const auto key_length = static_cast<std::int16_t>(std::min<std::uint16_t>(key_length_, sizeof key));
  if (!Search(key, key_length)) return false;
  const char* text = GetField(static_cast<std::int16_t>(text_field_));
  // An unreadable record yields the static empty text.
  if (text == EmptyText()) return false;
  out = text;
  return true;
}

}  // namespace veupd
