// CFdbUpdateControl: turns the update-FDB command's parameters into changes
// of file databases (merge files by mask, delete a key, delete a list of
// keys), one CUpdateFDB per change. It never stops a list at a failure and
// collects one line per problem. One object per command line; update thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veupd {

class CDelimitedFile;

class CFdbUpdateControl {
 public:
  static constexpr std::string_view kModeDelete = "DELETE";
  static constexpr std::string_view kModeListDelete = "LIST_DELETE";
  // Trailing key bytes (a dot and a three-letter extension) that a "*.*"
  // merge leaves out when it matches names against the old records.
  static constexpr std::uint32_t kMaskLeftOutBytes = 4;
  static constexpr std::uint32_t kSizeSumStart = 14;

  CFdbUpdateControl() = default;
  virtual ~CFdbUpdateControl() = default;

  // Runs every line of a TAB-delimited control list (database, mode,
  // argument); false when the list cannot be read or any line failed.
  bool Run(std::string_view control_list);
  // mode "DELETE": argument is a key; "LIST_DELETE": a delete list; any
  // other mode is the expected CRC-32 (hex) and the argument a file mask.
  bool UpdateEntry(std::string_view database, std::string_view mode, std::string_view argument);
  bool UpdateFiles(std::string_view database, std::uint32_t expected_crc, std::string_view mask);
  bool DeleteEntry(std::string_view database, std::string_view key);
  bool DeleteList(std::string_view database, std::string_view list);

  // One line per problem, each ending in "\n", in the order they arose.
  [[nodiscard]] std::string GetMessages() const { return messages_; }

  // Hex digits build the value (the last eight count), blanks and TABs are
  // skipped, any other character ends the scan.
  static std::uint32_t HexToNumber(std::string_view text);
  // Sorts a block of NUL-terminated names (ended by an empty name or the end
  // of the block) in place; returns their number, -1 without work space.
  static int SortNames(std::string& block);
  // White space, then double quotes, off the start; then the same off the end.
  static std::string Trim(std::string_view text);

 private:
  // Control and delete lists are TAB-delimited; a list that cannot be opened
  // is reported in the messages.
  bool OpenList(CDelimitedFile& list, const std::string& path);
  void AddMessage(std::string_view pattern, std::string_view arg1, std::string_view arg2 = {});

  std::string messages_;
};

}  // namespace veupd
