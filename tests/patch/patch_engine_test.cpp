// The apply step on real files: the worked examples, every token, the
// order of checks and every error with its parameters.
#include "patch/patch_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formats/dyn_buf.h"
#include "patch/patch_test_data.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::ReadFile;
using test::Rec;
using test::WriteFile;

class ApplyTest : public ::testing::Test {
 protected:
  // old: nullopt leaves the old file absent.
  ErrorCode Apply(const std::optional<std::string>& old, const std::string& update,
                  TokenSet tokens = TokenSet::kFix) {
    if (old) WriteFile(old_path, *old);
    WriteFile(upd_path, update);
    return ApplyUpdate(old_path, upd_path, new_path, tokens, errors);
  }
  [[nodiscard]] bool NewExists() const { return std::filesystem::exists(new_path); }
  [[nodiscard]] std::string New() const { return ReadFile(new_path); }
  void ExpectOneError(Err code, std::vector<std::string> params) {
    ASSERT_EQ(errors.entries.size(), 1u);
    EXPECT_EQ(errors.entries[0].code, ErrorCode(code));
    EXPECT_EQ(errors.entries[0].params, params);
  }

  test::TempDir dir;
  std::string old_path = dir / "old.bin";
  std::string upd_path = dir / "upd.dat";
  std::string new_path = dir / "new.bin";
  PatchErrorList errors;
};

std::string Bytes(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
  return s;
}

// ---------------------------------------------------------------- results

const std::string kTable("\x03\x00" "ABC" "\x02\x00" "DE", 9);  // two table records

TEST_F(ApplyTest, UpdatesGiveTheseBytes) {
  const struct {
    const char* name;
    std::optional<std::string> old;  // nullopt: no old file
    std::string update;
    TokenSet tokens;
    std::string result;
  } cases[] = {
      {"worked example", "HELLO WORLD",
       std::string("\x00\x00\x00\x00\x55\x01\x00\x4A" "\x05\x00\x00\x00\x44\x06\x00" "\x0B\x00\x00\x00\x41\x01\x00\x21", 23),
       TokenSet::kFix, "JELLO!"},
      {"U replaces a table record whole", kTable, std::string("\x05\x00\x00\x00\x55\x03\x00XYZ", 10), TokenSet::kFdt,
       std::string("\x03\x00" "ABC" "\x03\x00" "XYZ", 10)},
      {"u replaces table bytes", kTable, std::string("\x05\x00\x00\x00\x75\x03\x00XYZ", 10), TokenSet::kFdt,
       std::string("\x03\x00" "ABC" "XYZ" "E", 9)},
      {"D deletes the whole record whatever its length", kTable, Rec(0, 'D', 1), TokenSet::kFdt,
       std::string("\x02\x00" "DE", 4)},
      {"d deletes exactly its length", kTable, Rec(2, 'd', 1), TokenSet::kFdt,
       std::string("\x03\x00" "BC" "\x02\x00" "DE", 8)},
      {"A of length zero writes an empty record", "xy", Rec(1, 'A', 0) + Rec(1, 'a', 0) + Rec(1, 'a', "-"),
       TokenSet::kFdt, std::string("x\x00\x00-y", 5)},
      {"length zero writes and skips nothing", "abcdef",
       Rec(1, 'D', 0) + Rec(2, 'U', 0) + Rec(3, 'A', 0) + Rec(4, 'D', 1), TokenSet::kFix, "abcdf"},
      {"equal positions apply in file order", "0123456789",
       Rec(4, 'A', "ab") + Rec(4, 'D', 3) + Rec(7, 'A', "c") + Rec(7, 'U', "X"), TokenSet::kFix, "0123abcX89"},
      {"empty update copies the old file", Bytes(70000, 9), "", TokenSet::kFix, Bytes(70000, 9)},
      {"one stray trailing byte ignored", "abc", Rec(1, 'U', "Q") + "A", TokenSet::kFix, "aQc"},
      {"six stray trailing bytes ignored", "abc", Rec(1, 'U', "Q") + "AAAAAA", TokenSet::kFix, "aQc"},
      {"without old file positions are ignored and adds concatenate", std::nullopt,
       Rec(50, 'A', "one,") + Rec(3, 'A', "two,") + Rec(-1, 'A', "three"), TokenSet::kFix, "one,two,three"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(old_path);
    EXPECT_TRUE(Apply(c.old, c.update, c.tokens).ok());
    EXPECT_TRUE(New() == c.result);
    if (c.old) {
      EXPECT_TRUE(ReadFile(old_path) == *c.old);
    }
    EXPECT_TRUE(errors.entries.empty());
  }
}





// ---------------------------------------------------------------- errors and their parameters

TEST_F(ApplyTest, OldPathWithoutSeparatorFailsWith8AfterTheUpdateFileCheck) {
  CDynBuf payload(kPatchPayloadGrowStep);
  std::vector<std::uint8_t> copy(kPatchCopyBufferSize);
  PatchBuffers buffers{payload, copy};
  ApplyRequest req;
  req.old_path = "old.bin";
  req.update_path = upd_path;
  req.new_dir = dir.str();
  // The update data file is opened first: its absence wins.
  EXPECT_TRUE(ApplyUpdate(req, buffers, errors).Is(Err::kCannotOpenUpdateFile));
  WriteFile(upd_path, Rec(0, 'A', "x"));
  errors.entries.clear();
  EXPECT_TRUE(ApplyUpdate(req, buffers, errors).Is(Err::kInvalidPath));
  ExpectOneError(Err::kInvalidPath, {"old.bin"});
}

TEST_F(ApplyTest, NewFileOverTheOldFileIsRefusedAndTheOldFileKept) {
  WriteFile(old_path, "precious");
  WriteFile(upd_path, Rec(0, 'U', "P"));
  EXPECT_TRUE(ApplyUpdate(old_path, upd_path, old_path, TokenSet::kFix, errors).Is(Err::kCannotCreateNewFile));
  EXPECT_EQ(ReadFile(old_path), "precious");
}

// Each failure reported once with its parameters; what was written before
// it stays in the new file.
TEST_F(ApplyTest, BadRecordsFailWithTheirCodeAndParameters) {
  const struct {
    const char* name;
    std::optional<std::string> old;  // nullopt: no old file
    std::string update;
    TokenSet tokens;
    Err code;
    std::vector<std::string> params;
    std::optional<std::string> partial;  // the new file afterwards, when checked
  } cases[] = {
      {"lower case token in a fix update", "abc", Rec(1, 'u', "Z"), TokenSet::kFix, Err::kInvalidToken, {"117"}, {}},
      {"payload cut short: bytes read and length", "abc", Rec(0, 'A', 10, "12345"), TokenSet::kFix,
       Err::kUnexpectedEofFile, {"5", "10"}, {}},
      // The payload is read before the token is judged: 14, not 13 or 28.
      {"unknown token with a short payload", "abc", Rec(0, 'X', 4, "12"), TokenSet::kFix, Err::kUnexpectedEofFile,
       {"2", "4"}, {}},
      {"U without old file and a short payload", std::nullopt, Rec(0, 'U', 4, "1"), TokenSet::kFix,
       Err::kUnexpectedEofFile, {"1", "4"}, {}},
      // The 'A' after it proves the payload was consumed: 13 stops before it.
      {"unknown token after its payload", "abc", Rec(1, 'X', "zz") + Rec(1, 'A', "q"), TokenSet::kFix,
       Err::kInvalidToken, {"88"}, "a"},
      {"token zero", "abc", Rec(1, '\0', 0), TokenSet::kFix, Err::kInvalidToken, {"0"}, {}},
      {"D without old file", std::nullopt, Rec(0, 'A', "x") + Rec(0, 'D', 1), TokenSet::kFix, Err::kOldFileMissing,
       {"68"}, {}},
      {"U without old file", std::nullopt, Rec(0, 'U', "x"), TokenSet::kFix, Err::kOldFileMissing, {"85"}, {}},
      {"d without old file", std::nullopt, Rec(0, 'd', 2), TokenSet::kFdt, Err::kOldFileMissing, {"100"}, {}},
      {"decreasing position", "0123456789", Rec(5, 'U', "x") + Rec(4, 'A', "y"), TokenSet::kFix,
       Err::kFilePositionInvalid, {"6", "4"}, "01234x"},
      {"delete beyond the end", "abc", Rec(1, 'D', 5), TokenSet::kFix, Err::kFilePositionInvalid, {"6", "3"}, "a"},
      {"position beyond the old file is never filled in", "abc", Rec(10, 'A', "x"), TokenSet::kFix,
       Err::kFilePositionInvalid, {"3", "10"}, "abc"},
      // Largest positive position: the copy stops at the old file's end.
      {"position 2^31 - 1", "abc", Rec(0x7FFFFFFF, 'A', "x"), TokenSet::kFix, Err::kFilePositionInvalid,
       {"3", "2147483647"}, {}},
      // High bit set: a negative position, below any old offset.
      {"position with the high bit", "abc", Rec(0x80000000LL, 'A', "x"), TokenSet::kFix, Err::kFilePositionInvalid,
       {"0", "-2147483648"}, {}},
      // One byte left where the record's 2-byte length should be.
      {"table record without length field", std::string("\x01\x00" "Z" "\x07", 4), Rec(3, 'D', 0), TokenSet::kFdt,
       Err::kFilePositionInvalid, {"4", "3"}, {}},
      {"table record longer than the file", std::string("\x09\x00" "AB", 4), Rec(0, 'U', "Q"), TokenSet::kFdt,
       Err::kFilePositionInvalid, {"11", "4"}, std::string("\x01\x00" "Q", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(old_path);
    errors.entries.clear();
    EXPECT_TRUE(Apply(c.old, c.update, c.tokens).Is(c.code));
    ExpectOneError(c.code, c.params);
    if (c.partial) {
      EXPECT_TRUE(New() == *c.partial);
    }
  }
}

// Truncates the old file after the first record has been applied.
class ShrinkingReporter : public ErrorReporter {
 public:
  ShrinkingReporter(std::string path, PatchErrorList& errors) : path_(std::move(path)), errors_(errors) {}
  void ReportError(ErrorCode code, Param p1, Param p2, Param p3, Param p4) override {
    errors_.ReportError(code, p1, p2, p3, p4);
  }
  void RefreshProgress() override {
    if (!done_) std::filesystem::resize_file(path_, 10);
    done_ = true;
  }

 private:
  std::string path_;
  PatchErrorList& errors_;
  bool done_ = false;
};

}  // namespace
}  // namespace veupd
