// Control line syntax: prefix, opcode character, TAB-separated fields with
// directory placeholders. Reading is in text mode, 255 characters a piece.
#include "engine/control_reader.h"

#include <utility>
#include <vector>

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

std::string_view Replacement(char c, const UpdDirs& dirs, const std::optional<std::string>& level) {
  if (c >= '1' && c <= '9') return dirs[static_cast<std::size_t>(c - '0')];
  if (c >= 'A' && c <= 'J') return dirs[static_cast<std::size_t>(kLetterDirBase + (c - 'A'))];
  if (c == 'L' && level) return *level;
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
  // A '%' that a replacement brings in is replaced in turn, as if every
  // replacement started over on the whole line. The text still to scan is a
  // stack of pieces (the innermost replacement on top), so a replacement
  // costs no copy of the line's tail: long expansions stay linear.
  const std::optional<std::string> level_text =
      level ? std::optional<std::string>(std::to_string(*level)) : std::nullopt;
  std::string out;
  std::vector<std::string_view> pending{line};
  std::size_t total = line.size();  // out and every pending piece
  int done = 0;
  while (!pending.empty() && done < kMaxSubstitutions && total <= kMaxSubstitutedChars) {
    std::string_view& top = pending.back();
    const std::size_t pct = top.find('%');
    if (pct == std::string_view::npos) {
      out.append(top);
      pending.pop_back();
      continue;
    }
    out.append(top.substr(0, pct));
    top.remove_prefix(pct + 1);
    // The character after the '%' may start a piece further down.
    char next = '\0';
    std::size_t taken = 1;
    for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
      if (it->empty()) continue;
      next = it->front();
      it->remove_prefix(1);
      taken = 2;
      break;
    }
    while (!pending.empty() && pending.back().empty()) pending.pop_back();
    const std::string_view replacement = Replacement(next, dirs, level_text);
    total = total - taken + replacement.size();
    pending.push_back(replacement);
    ++done;
  }
  // Past a bound the rest stays as it is.
  for (auto it = pending.rbegin(); it != pending.rend(); ++it) out.append(*it);
  return out;
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

ReadResult ControlReader::ReadCommand(CommandContext& ctx, std::int32_t level) {
  if (ctx.line_index >= ctx.line_count) return ReadResult::kNoMore;
  os::TextReader reader;
  if (!reader.Open(path_).ok()) return ReadResult::kCannotOpen;
  // The file is opened afresh for every command; nothing is kept open
  // between. The next line in order is read from where the last one ended,
  // any other line (or a file that changed its length) from the top.
  std::uint64_t length = 0;
  const bool same_file = reader.Length(length).ok() && length == known_length_;
  std::uint32_t first = 0;
  if (next_known_ && same_file && ctx.line_index == next_index_ && reader.SeekTo(next_offset_).ok()) {
    first = next_index_;
  }
  next_known_ = false;
  std::string piece;
  for (std::uint32_t i = first; i <= ctx.line_index; ++i) {
    if (!ReadPiece(reader, piece)) {
      reader.Close();
      return ReadResult::kCannotOpen;
    }
  }
  next_index_ = ctx.line_index + 1;
  next_offset_ = reader.Position();
  known_length_ = length;
  next_known_ = true;
  reader.Close();
  ParseControlLine(std::move(piece), ctx, level);
  return ReadResult::kOk;
}

}  // namespace veupd
