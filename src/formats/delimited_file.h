// CDelimitedFile: reads a text file line by line (text mode, at most 800
// characters per line) and splits each line into fields at a delimiter text.
// Used by one thread; the FDB delta driver reads its TAB lists with it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace veupd {

class CDelimitedFile {
 public:
  // A longer physical line is delivered as several lines of this length.
  static constexpr std::size_t kMaxLine = 800;
  static constexpr int kDefaultMode = 2;
  static constexpr std::string_view kTab = "\t";

  // path may be null; the delimiter text starts as a single TAB.
  explicit CDelimitedFile(const char* path = nullptr, int delimiter_mode = kDefaultMode);
  virtual ~CDelimitedFile();
  CDelimitedFile(const CDelimitedFile&) = delete;
  CDelimitedFile& operator=(const CDelimitedFile&) = delete;

  // Stores the path for a later Open; a null path is rejected (false).
  virtual bool SetFilePath(const char* path);
  [[nodiscard]] const std::string& GetFilePath() const { return path_; }
  void SetDelimiter(int mode, std::string_view text);
  // Opens the stored (or given) path for reading in text mode, denying write
  // access to others. False when no path is known or the open fails.
  bool Open(const char* path = nullptr);
  [[nodiscard]] bool IsOpen() const { return open_; }
  virtual void Close();

  // Lines from the current position to the end; the position is restored.
  // 0 when the file is not open.
  int CountRecords();
  // Next line (without its line end) into the current line; false at the end.
  virtual bool ReadRecord();
  // Field `index` (0-based) of the current line; empty when there is none.
  void GetField(int index, std::string& result);
  // The same as text, valid until the next read.
  const char* GetFieldText(int index);
  // ReadRecord then GetFieldText; an empty text at the end of the file.
  virtual const char* ReadField(int index);

  [[nodiscard]] const std::string& CurrentLine() const { return line_; }
  [[nodiscard]] int RecordCount() const { return record_count_; }
  [[nodiscard]] int DelimiterCount() const { return delimiter_count_; }

  // Lines that WriteLines writes out.
  std::vector<std::string> output_lines_;
  // Writes every output line in text mode ('\n' becomes CR LF) to the stored
  // path, replacing its content. False while the file is open for reading
  // (the reader denies writers), without a path, or on a write failure.
  virtual bool WriteLines();

 private:
  void Split();

  // Code pages for a line conversion; both 0 in this system (bytes as read).
  int source_code_page_ = 0;
  int target_code_page_ = 0;
  bool split_ = false;
  std::string path_;
  std::string line_;
  int record_count_ = 0;
  int delimiter_mode_ = kDefaultMode;
  std::string delimiter_{kTab};
  int delimiter_count_ = 0;
  std::vector<std::string> fields_;
  bool open_ = false;
  os::TextReader reader_;
};

}  // namespace veupd
