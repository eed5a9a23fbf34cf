// Message dictionary. Input: structure, data and index files of a language
// and a list of text numbers (one a line), joined by the part marker. Opens
// the dictionary, looks up the numbers the index holds and those given, and
// formats each text found (and each line given) the way messages are filled
// in.
#include <algorithm>

#include "formats/text_format.h"
#include "formats/byte_order.h"
#include "fuzz_support.h"
#include "tables/message_dictionary.h"

namespace {

constexpr std::size_t kMaxNumbers = 32;

void Lookup(veupd::TDM_FdtTessel& dict, std::uint32_t number) {
  std::string text;
  const bool found = dict.GetText(number, text);
  const char* same = dict.GetText(number);
  VEUPD_FUZZ_CHECK(same != nullptr);
  VEUPD_FUZZ_CHECK(!found || text == same);
  const std::string formatted = veupd::FormatText(text, {std::int64_t{-12345}, std::string_view("C:\\VELA\\X.DAT"),
                                                         std::int64_t{number}});
  VEUPD_FUZZ_CHECK(formatted.size() <= text.size() * (veupd::kMaxFormatWidth + 20) + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veupd;
  const auto parts = fuzz::SplitParts(data, size, 4);
  auto& scratch = fuzz::Scratch();
  const std::string structure = scratch.File("MSG.STR");
  fuzz::WriteFile(structure, parts[0]);
  fuzz::WriteFile(scratch.File("MSGE.DAT"), parts[1]);
  fuzz::WriteFile(scratch.File("MSGE.IDX"), parts[2]);
  const std::string data_pattern = scratch.File("MSG@.DAT");
  const std::string index_pattern = scratch.File("MSG@.IDX");

  // The program's text field, or else the first single field there is.
  std::string field = "D0";
  {
    FDT table;
    std::string data_name, index_name;
    if (!table.NewStru(structure, data_name, index_name)) return 0;
    bool found = false;
    (void)table.FindField(field, found);
    for (std::int16_t i = 0; i < std::min<std::int16_t>(table.FieldCount(), 8) && !found; ++i) {
      found = table.Field(i).kind == fdt::kKindSingle;
      if (found) field = table.Field(i).name;
    }
  }
  TDM_FdtTessel dict;
  if (!dict.Open(structure.c_str(), "E", field.c_str(), data_pattern.c_str(), index_pattern.c_str())) return 0;
  VEUPD_FUZZ_CHECK(dict.IsOpen() && dict.GetLanguage() == "E");

  std::vector<std::uint32_t> numbers = {0, 1, 70, 118, 0xFFFFFFFF};
  const std::string_view index = parts[2];
  const std::size_t entry = dict.EntryLength();
  for (std::size_t at = 0; entry >= 4 && at + 4 <= index.size() && numbers.size() < kMaxNumbers; at += entry) {
    numbers.push_back(ReadLE32(reinterpret_cast<const std::uint8_t*>(index.data() + at)));
  }
  for (const std::string& line : fuzz::Lines(parts[3], kMaxNumbers)) {
    numbers.push_back(static_cast<std::uint32_t>(TextToInt(line)));
    // Each line also as a text of its own, with too few arguments.
    (void)FormatText(line, {std::string_view("x")});
  }
  for (const std::uint32_t number : numbers) Lookup(dict, number);

  // A language without files keeps the open pair.
  VEUPD_FUZZ_CHECK(!dict.SetLanguage("D"));
  Lookup(dict, numbers.back());
  dict.Close();
  VEUPD_FUZZ_CHECK(*dict.GetText(numbers.front()) == '\0');
  return 0;
}
