// INI reader and editor. Input: "section TAB key TAB value", the part
// marker, the file content. Reads, writes and deletes the key in the file.
#include "formats/ini_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veupd;
  const auto parts = fuzz::SplitParts(data, size, 2);
  std::string_view names = parts[0];
  std::string_view fields[3];
  for (auto& field : fields) {
    const std::size_t tab = names.find('\t');
    field = names.substr(0, tab);
    names.remove_prefix(tab == std::string_view::npos ? names.size() : tab + 1);
  }
  const auto [section, key, value] = fields;
  const std::string_view content = parts[1];

  const std::string path = fuzz::Scratch().File("PARAMS.INI");
  fuzz::WriteFile(path, content);
  CIniClass ini;
  std::string result;
  for (const bool no_case : {false, true}) {
    (void)ini.ReadValue(section, key, "default", result, path, no_case);
    (void)ini.ReadValueCached(section, key, "default", result, path, no_case);
    (void)ini.ReadValueCached("UPDATE", "File", "", result, path, no_case);
    std::size_t pos = 0;
    if (CIniClass::FindSection(section, content.data(), content.size(), pos, no_case)) {
      VEUPD_FUZZ_CHECK(pos <= content.size() + 1);
    }
  }
  const bool no_case = !value.empty() && (value[0] & 1) != 0;
  if (ini.WriteValue(section, key, value, path, no_case)) {
    (void)ini.ReadValue(section, key, "", result, path, no_case);
  }
  (void)ini.DeleteKey(section, key, path, no_case);
  (void)ini.ReadValueCached(section, key, "", result, path, no_case);
  return 0;
}
