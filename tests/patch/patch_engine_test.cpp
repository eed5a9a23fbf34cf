// The update data reader and writer and the apply step on real files: every
// token, the order of checks and every error with its parameters.
#include "patch/patch_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formats/dyn_buf.h"
#include "patch/patch_steps.h"
#include "patch/patch_test_data.h"
#include "patch/update_data.h"
#include "test_support.h"

namespace veupd {
namespace {

using test::ReadFile;
using test::Rec;
using test::WriteFile;
using Strings = std::vector<std::string>;

std::span<const std::uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Bytes(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
  return s;
}

// The writer's records and trailer: the old file's CRC, then the low half of
// the CRC-32 of all bytes before it. The patch engine stops before the
// trailer (fewer than 7 bytes); a scan finds the old CRC only in a whole file.
TEST(UpdateDataTest, WriterTrailerAndScan) {
  test::TempDir dir;
  UpdateDataWriter w;
  ASSERT_TRUE(w.Open(dir / "u.bin").ok());
  EXPECT_TRUE(w.Replace(0, Span("J")).ok());
  EXPECT_TRUE(w.Delete(5, 6).ok());
  EXPECT_TRUE(w.Insert(11, Span("!")).ok());
  EXPECT_EQ(w.BytesWritten(), 23u);
  // Payloads that disagree with the length are refused.
  EXPECT_FALSE(w.Write({0, token::kAdd, 3}, Span("ab")).ok());
  EXPECT_FALSE(w.Write({0, token::kDeleteBytes, 3}, Span("abc")).ok());
  EXPECT_FALSE(w.Insert(0, std::vector<std::uint8_t>(kMaxPayload + 1)).ok());
  ASSERT_TRUE(w.WriteOldCrcTrailer(0x11223344).ok());
  ASSERT_TRUE(w.Close().ok());
  const std::string whole = ReadFile(dir / "u.bin");
  ASSERT_EQ(whole.size(), 23u + kOldCrcTrailerSize);
  EXPECT_EQ(whole.substr(0, 27), std::string("\x00\x00\x00\x00\x55\x01\x00\x4A" "\x05\x00\x00\x00\x44\x06\x00"
                                             "\x0B\x00\x00\x00\x41\x01\x00\x21" "\x44\x33\x22\x11", 27));
  WriteFile(dir / "old", "HELLO WORLD");
  PatchErrorList errors;
  EXPECT_TRUE(ApplyUpdate(dir / "old", dir / "u.bin", dir / "new", TokenSet::kFix, errors).ok());
  EXPECT_EQ(ReadFile(dir / "new"), "JELLO!");

  std::string changed = whole, bad_check = whole;
  changed[7] = 'K';  // the payload of the first record
  bad_check.back() = static_cast<char>(bad_check.back() ^ 1);
  struct Case {
    std::string bytes;
    std::optional<std::uint32_t> old_crc;
    bool damaged, short_payload;
  } cases[] = {
      {whole, 0x11223344, false, false},          {whole.substr(0, 23), std::nullopt, false, false},
      {changed, std::nullopt, true, false},       {bad_check, std::nullopt, true, false},
      {whole.substr(0, 26), std::nullopt, true, false},  // cut in the trailer
      {whole.substr(0, 7), std::nullopt, true, true},    // cut in a payload
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    WriteFile(dir / "c.bin", c.bytes);
    const std::optional<UpdateDataScan> scan = ScanUpdateData(dir / "c.bin");
    ASSERT_TRUE(scan.has_value());
    EXPECT_EQ(scan->old_crc, c.old_crc);
    EXPECT_EQ(scan->Damaged(), c.damaged);
    EXPECT_EQ(scan->short_payload, c.short_payload);
  }
  EXPECT_FALSE(ScanUpdateData(dir / "missing.bin").has_value());

  ASSERT_TRUE(w.Open(dir / "u.bin").ok());
  EXPECT_TRUE(w.Write({0x01020304, 'u', 2}, Span("xy")).ok());
  ASSERT_TRUE(w.Close().ok());
  EXPECT_EQ(ReadFile(dir / "u.bin"), std::string("\x04\x03\x02\x01u\x02\x00xy", 9));
}

TEST(InPlaceTemporaryPathTest, ReplacesTheTextAfterTheLastDot) {
  for (const auto& [path, temp] : {std::pair{"C:\\DATA\\TABLE.DAT", "C:\\DATA\\TABLE.DU$"},
                                   {"C:\\DATA\\TABLE", "C:\\DATA\\TABLE.DU$"},  // no dot anywhere
                                   {"D:\\V1.5\\TABLE", "D:\\V1.DU$"},           // a dot in the folder only
                                   {"/srv/a.tar.gz", "/srv/a.tar.DU$"},
                                   {"x.", "x.DU$"}}) {
    EXPECT_EQ(InPlaceTemporaryPath(path), temp);
  }
}

const std::string kTable("\x03\x00" "ABC" "\x02\x00" "DE", 9);  // two table records

// Each failure is reported once with its parameters; what was written
// before it stays in the new file.
TEST(ApplyTest, UpdatesGiveTheseBytesOrThisError) {
  constexpr TokenSet kFix = TokenSet::kFix, kFdt = TokenSet::kFdt;
  const ErrorCode ok;
  const auto none = std::nullopt;  // no old file, or the new file not checked
  const struct {
    std::optional<std::string> old;
    std::string update;
    TokenSet tokens;
    ErrorCode code;
    Strings params;
    std::optional<std::string> result;  // the new file afterwards
  } cases[] = {
      // U replaces a table record whole, u its bytes; D deletes the whole
      // record whatever its length, d exactly its length.
      {kTable, Rec(5, 'U', "XYZ"), kFdt, ok, {}, std::string("\x03\x00" "ABC" "\x03\x00" "XYZ", 10)},
      {kTable, Rec(5, 'u', "XYZ"), kFdt, ok, {}, std::string("\x03\x00" "ABC" "XYZ" "E", 9)},
      {kTable, Rec(0, 'D', 1), kFdt, ok, {}, std::string("\x02\x00" "DE", 4)},
      {kTable, Rec(2, 'd', 1), kFdt, ok, {}, std::string("\x03\x00" "BC" "\x02\x00" "DE", 8)},
      // A of length zero writes an empty record; other zero lengths write and skip nothing.
      {"xy", Rec(1, 'A', 0) + Rec(1, 'a', 0) + Rec(1, 'a', "-"), kFdt, ok, {}, std::string("x\x00\x00-y", 5)},
      {"abcdef", Rec(1, 'D', 0) + Rec(2, 'U', 0) + Rec(3, 'A', 0) + Rec(4, 'D', 1), kFix, ok, {}, "abcdf"},
      // Equal positions apply in file order.
      {"0123456789", Rec(4, 'A', "ab") + Rec(4, 'D', 3) + Rec(7, 'A', "c") + Rec(7, 'U', "X"), kFix, ok, {},
       "0123abcX89"},
      {Bytes(70000, 9), "", kFix, ok, {}, Bytes(70000, 9)},
      {"abc", Rec(1, 'U', "Q") + "AAAAAA", kFix, ok, {}, "aQc"},  // stray trailing bytes ignored
      // Without an old file positions are ignored and adds concatenate.
      {none, Rec(50, 'A', "one,") + Rec(3, 'A', "two,") + Rec(-1, 'A', "three"), kFix, ok, {}, "one,two,three"},
      {"abc", Rec(1, 'u', "Z"), kFix, Err::kInvalidToken, {"117"}, none},  // a table token in a fix update
      {"abc", Rec(0, 'A', 10, "12345"), kFix, Err::kUnexpectedEofFile, {"5", "10"}, none},  // read, length
      // The payload is read before the token is judged: 14, not 13 or 28.
      {"abc", Rec(0, 'X', 4, "12"), kFix, Err::kUnexpectedEofFile, {"2", "4"}, none},
      {none, Rec(0, 'U', 4, "1"), kFix, Err::kUnexpectedEofFile, {"1", "4"}, none},
      // The 'A' after it proves the payload was consumed: 13 stops before it.
      {"abc", Rec(1, 'X', "zz") + Rec(1, 'A', "q"), kFix, Err::kInvalidToken, {"88"}, "a"},
      {"abc", Rec(1, '\0', 0), kFix, Err::kInvalidToken, {"0"}, none},
      {none, Rec(0, 'A', "x") + Rec(0, 'D', 1), kFix, Err::kOldFileMissing, {"68"}, none},
      {none, Rec(0, 'U', "x"), kFix, Err::kOldFileMissing, {"85"}, none},
      {none, Rec(0, 'd', 2), kFdt, Err::kOldFileMissing, {"100"}, none},
      {"0123456789", Rec(5, 'U', "x") + Rec(4, 'A', "y"), kFix, Err::kFilePositionInvalid, {"6", "4"}, "01234x"},
      {"abc", Rec(1, 'D', 5), kFix, Err::kFilePositionInvalid, {"6", "3"}, "a"},  // delete beyond the end
      // A position beyond the old file is never filled in.
      {"abc", Rec(10, 'A', "x"), kFix, Err::kFilePositionInvalid, {"3", "10"}, "abc"},
      // Largest positive position: the copy stops at the old file's end.
      {"abc", Rec(0x7FFFFFFF, 'A', "x"), kFix, Err::kFilePositionInvalid, {"3", "2147483647"}, none},
      // High bit set: a negative position, below any old offset.
      {"abc", Rec(0x80000000LL, 'A', "x"), kFix, Err::kFilePositionInvalid, {"0", "-2147483648"}, none},
      // One byte left where the record's 2-byte length should be; a record
      // longer than the file.
      {std::string("\x01\x00" "Z" "\x07", 4), Rec(3, 'D', 0), kFdt, Err::kFilePositionInvalid, {"4", "3"}, none},
      {std::string("\x09\x00" "AB", 4), Rec(0, 'U', "Q"), kFdt, Err::kFilePositionInvalid, {"11", "4"},
       std::string("\x01\x00" "Q", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    test::TempDir dir;
    if (c.old) WriteFile(dir / "old", *c.old);
    WriteFile(dir / "upd", c.update);
    PatchErrorList errors;
    EXPECT_EQ(ApplyUpdate(dir / "old", dir / "upd", dir / "new", c.tokens, errors), c.code);
    ASSERT_EQ(errors.entries.size(), c.code.ok() ? 0u : 1u);
    EXPECT_EQ(c.code.ok() ? Strings{} : errors.entries[0].params, c.params);
    EXPECT_TRUE(!c.result || ReadFile(dir / "new") == *c.result);
    EXPECT_TRUE(ReadFile(dir / "old") == c.old.value_or(""));
  }
}

TEST(ApplyTest, RefusedPathsKeepTheOldFile) {
  test::TempDir dir;
  const std::string upd = dir / "upd.dat";
  PatchErrorList errors;
  CDynBuf payload(kPatchPayloadGrowStep);
  std::vector<std::uint8_t> copy(kPatchCopyBufferSize);
  PatchBuffers buffers{payload, copy};
  ApplyRequest req;
  req.old_path = "old.bin";
  req.update_path = upd;
  req.new_dir = dir.str();
  // The update data file is opened first: its absence wins over the old
  // path without a separator.
  EXPECT_TRUE(ApplyUpdate(req, buffers, errors).Is(Err::kCannotOpenUpdateFile));
  WriteFile(upd, Rec(0, 'U', "P"));
  errors.entries.clear();
  EXPECT_TRUE(ApplyUpdate(req, buffers, errors).Is(Err::kInvalidPath));
  ASSERT_EQ(errors.entries.size(), 1u);
  EXPECT_EQ(errors.entries[0].params, Strings{"old.bin"});
  // A new file over the old one.
  WriteFile(dir / "old.bin", "precious");
  EXPECT_TRUE(ApplyUpdate(dir / "old.bin", upd, dir / "old.bin", TokenSet::kFix, errors).Is(Err::kCannotCreateNewFile));
  EXPECT_EQ(ReadFile(dir / "old.bin"), "precious");
}

}  // namespace
}  // namespace veupd
