// Helpers shared by the file and system commands.
#include "commands/command_util.h"

namespace veupd::cmd {

ErrorCode RequireParams(CommandHost& host, std::initializer_list<Slot> slots) {
  for (const Slot slot : slots) {
    if (host.Context().Param(slot).empty()) return host.Fail(Err::kParamMissing, SlotName(slot));
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
