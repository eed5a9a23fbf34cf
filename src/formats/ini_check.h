// What makes an INI file unreadable for CIniClass although it looks fine in
// an editor: a missing or empty file, or lines ended by LF alone (the
// scanner looks for CR). Used for messages beside the updater's own.
#pragma once

#include <string>

namespace veupd {

enum class IniFileProblem {
  kNone,
  kMissing,     // cannot be opened
  kEmpty,       // 0 bytes
  kLfLineEnds,  // at least one LF without a CR before it
};

[[nodiscard]] IniFileProblem CheckIniFile(const std::string& path);
// A short explanation; empty for kNone.
[[nodiscard]] std::string IniProblemText(IniFileProblem problem);

}  // namespace veupd
