// CIniClass: reads and edits INI files with its own parser on the whole file
// content (CR-based line scanning, untrimmed names, trimmed values). One
// instance per thread; the cache lives as long as the object.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "formats/dyn_buf.h"

namespace veupd {

class CIniClass {
 public:
  bool ReadValue(std::string_view section, std::string_view key, std::string_view def,
                 std::string& result, const std::string& file, bool no_case);
  bool ReadValueCached(std::string_view section, std::string_view key, std::string_view def,
                       std::string& result, const std::string& file, bool no_case);
  bool WriteValue(std::string_view section, std::string_view key, std::string_view value,
                  const std::string& file, bool no_case);
  bool DeleteKey(std::string_view section, std::string_view key, const std::string& file,
                 bool no_case);
  // Finds a section header in content[0..size) from pos; leaves pos at the
  // start of the line after it.
  static bool FindSection(std::string_view section, const char* content, std::size_t size,
                          std::size_t& pos, bool no_case);

 private:
  std::string m_strCacheFile;
  CDynBuf m_Cache;
};

}  // namespace veupd
