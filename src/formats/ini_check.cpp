#include "formats/ini_check.h"

#include <array>

#include "platform/platform.h"

namespace veupd {

IniFileProblem CheckIniFile(const std::string& path) {
  os::File file;
  if (!file.Open(path, os::OpenMode::kRead).ok()) return IniFileProblem::kMissing;
  std::array<char, 16384> buf{};
  bool any = false;
  char prev = '\0';
  for (;;) {
    std::size_t got = 0;
    if (!file.Read(buf.data(), buf.size(), got).ok() || got == 0) break;
    any = true;
    for (std::size_t i = 0; i < got; ++i) {
      if (buf[i] == '\n' && prev != '\r') return IniFileProblem::kLfLineEnds;
      prev = buf[i];
    }
  }
  return any ? IniFileProblem::kNone : IniFileProblem::kEmpty;
}

std::string IniProblemText(IniFileProblem problem) {
  switch (problem) {
    case IniFileProblem::kNone:
      return {};
    case IniFileProblem::kMissing:
      return "not found or not readable";
    case IniFileProblem::kEmpty:
      return "the file is empty";
    case IniFileProblem::kLfLineEnds:
      return "lines end in LF alone; INI files are read with CR LF line ends only";
  }
  return {};
}

}  // namespace veupd
