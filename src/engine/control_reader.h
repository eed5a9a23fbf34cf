// The control-file reader: counts the control lines of an update control
// file and fetches one line by index into the command context (prefix,
// opcode, placeholders, parameter slots). Update thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/command_context.h"

namespace veupd {

// A physical line longer than this is read in pieces of this many
// characters, each piece a control line of its own.
constexpr std::size_t kControlPieceChars = 255;
// A control line shorter than this (line end included) ends the list.
constexpr std::size_t kMinControlLineChars = 3;
// Ends a substitution whose replacement values keep bringing in new
// placeholders: after this many replacements, or once the line has grown
// past this length, the rest of the line stays as it is.
constexpr int kMaxSubstitutions = 4096;
constexpr std::size_t kMaxSubstitutedChars = 1 << 20;

using UpdDirs = std::array<std::string, kUpdDirCount>;

// The character's code minus 48, minus 7 more when that is above 9; the
// character counts as signed 8-bit.
[[nodiscard]] std::int32_t DecodeOpcode(char c);

// Replaces every '%' and the character after it. With a level, '%L' gives it
// in decimal; without one (the log directory), 'L' is just another UpdDir0.
[[nodiscard]] std::string SubstitutePlaceholders(std::string line, const UpdDirs& dirs,
                                                 std::optional<std::int32_t> level);

// Splits at TAB into up to five slots, stopping at the first empty field.
void SplitFields(std::string_view text, std::array<std::string, kParamCount>& params);

// Decodes one control line (as read, line end included) into the context:
// prefix flags, opcode, placeholders and the parameter slots.
void ParseControlLine(std::string line, CommandContext& ctx, std::int32_t level);

// Every piece of the file as the reader delivers it, line end included, to
// the end of the file (also behind the piece that ends the list); for tools
// that show what the updater will read. False when the file cannot be opened.
[[nodiscard]] bool ReadControlPieces(const std::string& path, std::vector<std::string>& pieces);

enum class ReadResult : int { kOk = 0, kNoMore = 1, kCannotOpen = 2 };

class ControlReader {
 public:
  explicit ControlReader(std::string path) : path_(std::move(path)) {}

  // Counts the control lines into ctx.line_count and sets the index to 0.
  // False when the file cannot be opened.
  [[nodiscard]] bool CountLines(CommandContext& ctx) const;
  // Reads the line ctx.line_index afresh from the file. kCannotOpen also when
  // the file ends before that line; the caller reports error 2.
  [[nodiscard]] ReadResult ReadCommand(CommandContext& ctx, std::int32_t level);

  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  std::string path_;
  // Where the line after the last one read starts, so that reading the lines
  // in order costs one piece each rather than a scan from the top. Only used
  // while the file keeps the length it had then.
  std::uint32_t next_index_ = 0;
  std::uint64_t next_offset_ = 0;
  std::uint64_t known_length_ = 0;
  bool next_known_ = false;
};

}  // namespace veupd
