// Update data files. Input: the update data file. Reads every record, then
// applies the file as Fix-Update and as FDT-Update to a small fixed old file
// (and once without one).
#include "formats/dyn_buf.h"
#include "fuzz_support.h"
#include "patch/patch_engine.h"
#include "patch/update_data.h"

namespace {

// 600 bytes of text for Fix-Update; for FDT-Update the same as records of
// u16 length + content, 20 bytes each.
const std::string& OldFile(veupd::TokenSet tokens) {
  static const std::string plain = [] {
    std::string s;
    for (int i = 0; s.size() < 600; ++i) s += "line " + std::to_string(i) + " of the old file\r\n";
    s.resize(600);
    return s;
  }();
  static const std::string records = [] {
    std::string s;
    for (int i = 0; i < 30; ++i) {
      s += static_cast<char>(18);
      s += '\0';
      std::string content = "record " + std::to_string(i);
      content.resize(18, '.');
      s += content;
    }
    return s;
  }();
  return tokens == veupd::TokenSet::kFix ? plain : records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veupd;
  auto& scratch = fuzz::Scratch();
  const std::string update = scratch.File("X.UPD");
  const std::string old_path = scratch.File("OLD.DAT");
  const std::string new_path = scratch.File("NEW.DAT");
  fuzz::WriteFile(update, std::string_view(reinterpret_cast<const char*>(data), size));

  UpdateDataReader reader;
  VEUPD_FUZZ_CHECK(reader.Open(update).ok());
  UpdateRecord rec;
  std::vector<std::uint8_t> payload(kMaxPayload);
  std::size_t seen = 0;
  while (reader.NextHeader(rec)) {
    seen += kRecordHeaderSize;
    if (TokenHasPayload(rec.token)) {
      std::size_t got = 0;
      reader.ReadPayload(payload.data(), rec.length, got);
      VEUPD_FUZZ_CHECK(got <= rec.length);
      seen += got;
      if (got < rec.length) break;
    }
  }
  VEUPD_FUZZ_CHECK(seen <= size);
  reader.Close();

  for (const TokenSet tokens : {TokenSet::kFix, TokenSet::kFdt}) {
    fuzz::WriteFile(old_path, OldFile(tokens));
    PatchErrorList errors;
    const ErrorCode code = ApplyUpdate(old_path, update, new_path, tokens, errors);
    VEUPD_FUZZ_CHECK(code.ok() == errors.entries.empty());
    fuzz::RemoveFile(new_path);
  }
  fuzz::RemoveFile(old_path);
  PatchErrorList errors;
  (void)ApplyUpdate(old_path, update, new_path, TokenSet::kFix, errors);
  fuzz::RemoveFile(new_path);
  return 0;
}
