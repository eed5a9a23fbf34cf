// Control line syntax: prefix, opcode character, TAB-separated fields with
// directory placeholders. Reading is in text mode, 255 characters a piece.
#include "engine/control_reader.h"

#include <utility>

#include "platform/platform.h"

namespace veupd {
namespace {

constexpr std::int32_t kDigitZero = 48;
constexpr std::int32_t kGapToLetters = 7;  // ':' .. '@' sit between '9' and 'A'
constexpr int kLetterDirBase = 10;        // '%A' is UpdDir10

// Reads the next piece as the line reader delivers it. A NUL byte ends the
// text of the piece, as it would in the character buffer of a C reader.
bool ReadPiece(os::TextReader& reader, std::string& piece) {
  if (!reader.ReadLine(piece, kControlPieceChars)) return false;
  if (const auto nul = piece.find('\0'); nul != std::string::npos) piece.resize(nul);
  return true;
}

std::string Replacement(char c, const UpdDirs& dirs, std::optional<std::int32_t> level) {
  if (c >= '1' && c <= '9') return dirs[static_cast<std::size_t>(c - '0')];
  if (c >= 'A' && c <= 'J') return dirs[static_cast<std::size_t>(kLetterDirBase + (c - 'A'))];
  if (c == 'L' && level) return std::to_string(*level);
  return dirs[0];
}

}  // namespace

std::int32_t DecodeOpcode(char c) {
  std::int32_t value = static_cast<std::int32_t>(static_cast<signed char>(c)) - kDigitZero;
  if (value > 9) value -= kGapToLetters;
  return value;
}

std::string SubstitutePlaceholders(std::string line, const UpdDirs& dirs,
                                   std::optional<std::int32_t> level) {
  // Each pass starts over on the whole line, so a '%' that a replacement
  // brings in is replaced in turn; the bounds end a pass that never would.
  for (int done = 0; done < kMaxSubstitutions && line.size() <= kMaxSubstitutedChars; ++done) {
    const std::size_t pct = line.find('%');
    if (pct == std::string::npos) break;
    const bool has_next = pct + 1 < line.size();
    std::string next = line.substr(0, pct);
    next += Replacement(has_next ? line[pct + 1] : '\0', dirs, level);
    if (pct + 2 < line.size()) next.append(line, pct + 2, std::string::npos);
    line = std::move(next);
  }
  return line;
}

void SplitFields(std::string_view text, std::array<std::string, kParamCount>& params) {
  for (auto& p : params) p.clear();
  std::size_t slot = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t tab = text.find('\t', pos);
    const std::string_view field =
        text.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
    if (field.empty()) break;
    // Fields beyond the fifth are read and dropped.
    if (slot < params.size()) params[slot++] = std::string(field);
    if (tab == std::string_view::npos) break;
    pos = tab + 1;
  }
}

void ParseControlLine(std::string line, CommandContext& ctx, std::int32_t level) {
  ctx.opcode = 0;
  ctx.skip_after_error = false;
  ctx.short_report = false;
  if (!line.empty()) {
    const char prefix = line[0];
    if (prefix == '#' || prefix == '?' || prefix == '=' || prefix == '-') {
      ctx.skip_after_error = prefix == '?' || prefix == '-';
      ctx.short_report = prefix == '=' || prefix == '-';
      ctx.opcode = DecodeOpcode(line.size() > 1 ? line[1] : '\0');
      line.erase(0, line.size() > 1 ? 2 : 1);
    }
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n')) {
    line.pop_back();
  }
  line = SubstitutePlaceholders(std::move(line), ctx.upd_dir, level);
  SplitFields(line, ctx.param);
}

bool ReadControlPieces(const std::string& path, std::vector<std::string>& pieces) {
  pieces.clear();
  os::TextReader reader;
  if (!reader.Open(path).ok()) return false;
  std::string piece;
  while (ReadPiece(reader, piece)) pieces.push_back(piece);
  reader.Close();
  return true;
}

bool ControlReader::CountLines(CommandContext& ctx) const {
  os::TextReader reader;
  if (!reader.Open(path_).ok()) return false;
  std::uint32_t count = 0;
  std::string piece;
  while (ReadPiece(reader, piece) && piece.size() >= kMinControlLineChars) ++count;
  reader.Close();
  ctx.line_count = count;
  ctx.line_index = 0;
  return true;
}

ReadResult ControlReader::ReadCommand(CommandContext& ctx, std::int32_t level) const {
  if (ctx.line_index >= ctx.line_count) return ReadResult::kNoMore;
  os::TextReader reader;
  if (!reader.Open(path_).ok()) return ReadResult::kCannotOpen;
  // The file is read afresh for every command; nothing is kept open between.
  std::string piece;
  for (std::uint32_t i = 0; i <= ctx.line_index; ++i) {
    if (!ReadPiece(reader, piece)) {
      reader.Close();
      return ReadResult::kCannotOpen;
    }
  }
  reader.Close();
  ParseControlLine(std::move(piece), ctx, level);
  return ReadResult::kOk;
}

}  // namespace veupd
