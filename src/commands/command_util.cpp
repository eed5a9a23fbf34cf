// Helpers shared by the file and system commands.
#include "commands/command_util.h"

#include <array>
#include <cstdio>

namespace veupd::cmd {

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size() + 64);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const bool is_field = pattern[i] == '%' && i + 1 < pattern.size() &&
                          (pattern[i + 1] == 's' || pattern[i + 1] == 'd');
    if (is_field && next != args.end()) {
      out.append(*next++);
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

std::string Hex8(std::uint32_t value) {
  constexpr std::size_t kHexDigits = 8;
  std::array<char, kHexDigits + 1> text{};
  std::snprintf(text.data(), text.size(), "%08X", static_cast<unsigned>(value));
  return {text.data(), kHexDigits};
}

ErrorCode RequireParams(CommandHost& host, std::initializer_list<Slot> slots) {
  for (const Slot slot : slots) {
    if (host.Context().Param(slot).empty()) {
      const ErrorCode rc(Err::kParamMissing);
      host.ReportError(rc, SlotName(slot));
      return rc;
    }
  }
  return ErrorCode::Ok();
}

ErrorCode FailStep(CommandHost& host, std::string_view text, ErrorCode code) {
  host.ReportStep(/*success=*/false, text, code);
  return code;
}

ErrorCode FinishStep(CommandHost& host, std::string_view text, ErrorCode code) {
  host.ReportStep(/*success=*/code.ok(), text, code);
  return code;
}

std::size_t LastSeparator(std::string_view path) { return os::FindLastSeparator(path); }

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

std::string Join(std::string_view dir, std::string_view name) {
  std::string path;
  path.reserve(dir.size() + 1 + name.size());
  path.append(dir);
  path.push_back(os::kNativeSeparator);
  path.append(name);
  return path;
}

bool FindEntry(const std::string& path, os::DirEntry& entry) {
  if (path.empty() || os::IsSeparator(path.back())) return false;
  // A plain name is looked up directly: a search lists the whole folder,
  // which costs a pass over a big folder per copied file.
  if (!HasWildcard(path)) return os::GetInfo(path, entry).ok();
  os::DirSearch search;
  if (!search.Start(path).ok()) return false;
  return search.Next(entry);
}

std::string TemporaryName(std::string_view target, std::string_view suffix) {
  std::string name;
  const std::size_t dot = target.rfind('.');
  if (dot == std::string_view::npos) {
    name.append(target);
    name.push_back('.');
  } else {
    name.append(target.substr(0, dot + 1));
  }
  name.append(suffix);
  return name;
}

}  // namespace veupd::cmd
