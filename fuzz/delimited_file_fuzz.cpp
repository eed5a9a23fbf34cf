// Delimited text file reader. Input: the delimiter text, the part marker,
// the file. Every field of every line is read and taken apart as the FDB
// control list's fields are, then the lines are written back.
#include "formats/delimited_file.h"
#include "tables/fdb_update_control.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veupd;
  const auto parts = fuzz::SplitParts(data, size, 2);
  const std::string path = fuzz::Scratch().File("LIST.TXT");
  fuzz::WriteFile(path, parts[1]);

  std::vector<std::string> lines;
  {
    CDelimitedFile file(path.c_str());
    if (!parts[0].empty()) file.SetDelimiter(CDelimitedFile::kDefaultMode, parts[0].substr(0, 16));
    VEUPD_FUZZ_CHECK(file.Open());
    const int count = file.CountRecords();
    VEUPD_FUZZ_CHECK(count >= 0);
    std::string field;
    while (file.ReadRecord()) {
      const std::string& line = file.CurrentLine();
      VEUPD_FUZZ_CHECK(line.size() <= CDelimitedFile::kMaxLine);
      VEUPD_FUZZ_CHECK(line.find('\0') == std::string::npos);
      (void)file.GetFieldText(-1);
      (void)file.GetFieldText(0);
      const int fields = file.DelimiterCount() + 1;
      for (int i = 0; i <= fields; ++i) {
        file.GetField(i, field);
        VEUPD_FUZZ_CHECK(field.size() <= line.size());
        // As the FDB control list driver takes its fields.
        VEUPD_FUZZ_CHECK(CFdbUpdateControl::Trim(field).size() <= field.size());
        (void)CFdbUpdateControl::HexToNumber(field);
      }
      lines.push_back(line);
    }
    VEUPD_FUZZ_CHECK(lines.size() == static_cast<std::size_t>(count));
    VEUPD_FUZZ_CHECK(*file.ReadField(0) == '\0');
  }

  CDelimitedFile out;
  VEUPD_FUZZ_CHECK(out.SetFilePath(fuzz::Scratch().File("OUT.TXT").c_str()));
  out.output_lines_ = std::move(lines);
  for (std::string& line : out.output_lines_) line += '\n';
  VEUPD_FUZZ_CHECK(out.WriteLines());
  VEUPD_FUZZ_CHECK(out.Open());
  for (std::size_t i = 0; i < out.output_lines_.size(); ++i) (void)out.ReadField(1);
  return 0;
}
