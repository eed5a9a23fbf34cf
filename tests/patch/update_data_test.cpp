// The update data file reader and writer against bytes laid out by hand.
#include "patch/update_data.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace veupd {
namespace {

std::span<const std::uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(UpdateDataWriterTest, WritesTheHelloWorldExampleByteForByte) {
  test::TempDir dir;
  UpdateDataWriter w;
  ASSERT_TRUE(w.Open(dir / "u.bin").ok());
  EXPECT_TRUE(w.Replace(0, Span("J")).ok());
  EXPECT_TRUE(w.Delete(5, 6).ok());
  EXPECT_TRUE(w.Insert(11, Span("!")).ok());
  EXPECT_EQ(w.BytesWritten(), 23u);
  ASSERT_TRUE(w.Close().ok());
  EXPECT_EQ(test::ReadFile(dir / "u.bin"), std::string("\x00\x00\x00\x00\x55\x01\x00\x4A"
                                                       "\x05\x00\x00\x00\x44\x06\x00"
                                                       "\x0B\x00\x00\x00\x41\x01\x00\x21",
                                                       23));
}

// The trailer: the old file's CRC, then the low half of the CRC-32 of all
// bytes before it; the patch engine stops before it (fewer than 7 bytes).
TEST(UpdateDataTrailerTest, ScanFindsTheOldCrcOnlyInAWholeFile) {
  test::TempDir dir;
  UpdateDataWriter w;
  ASSERT_TRUE(w.Open(dir / "u.bin").ok());
  EXPECT_TRUE(w.Replace(0, Span("J")).ok());
  EXPECT_TRUE(w.Delete(5, 6).ok());
  ASSERT_TRUE(w.WriteOldCrcTrailer(0x11223344).ok());
  ASSERT_TRUE(w.Close().ok());
  const std::string whole = test::ReadFile(dir / "u.bin");
  ASSERT_EQ(whole.size(), 15u + kOldCrcTrailerSize);
  EXPECT_EQ(whole.substr(15, 4), "\x44\x33\x22\x11");

  struct Case {
    const char* name;
    std::string bytes;
    std::optional<std::uint32_t> old_crc;
    bool damaged;
    bool short_payload;
  };
  std::string changed = whole;
  changed[7] = 'K';  // the payload of the first record
  std::string bad_check = whole;
  bad_check.back() = static_cast<char>(bad_check.back() ^ 1);
  const std::vector<Case> cases = {
      {"whole", whole, 0x11223344, false, false},
      {"no trailer", whole.substr(0, 15), std::nullopt, false, false},
      {"payload changed", changed, std::nullopt, true, false},
      {"check changed", bad_check, std::nullopt, true, false},
      {"cut in the trailer", whole.substr(0, 18), std::nullopt, true, false},
      {"cut in a payload", whole.substr(0, 7), std::nullopt, true, true},
  };
  for (const auto& c : cases) {
    test::WriteFile(dir / "c.bin", c.bytes);
    const std::optional<UpdateDataScan> scan = ScanUpdateData(dir / "c.bin");
    ASSERT_TRUE(scan.has_value()) << c.name;
    EXPECT_EQ(scan->old_crc, c.old_crc) << c.name;
    EXPECT_EQ(scan->Damaged(), c.damaged) << c.name;
    EXPECT_EQ(scan->short_payload, c.short_payload) << c.name;
  }
  EXPECT_FALSE(ScanUpdateData(dir / "missing.bin").has_value());
}

TEST(UpdateDataWriterTest, RefusesPayloadsThatDisagreeWithTheLength) {
  test::TempDir dir;
  UpdateDataWriter w;
  ASSERT_TRUE(w.Open(dir / "u.bin").ok());
  EXPECT_FALSE(w.Write({0, token::kAdd, 3}, Span("ab")).ok());
  EXPECT_FALSE(w.Write({0, token::kDeleteBytes, 3}, Span("abc")).ok());
  EXPECT_FALSE(w.Insert(0, std::vector<std::uint8_t>(kMaxPayload + 1)).ok());
  EXPECT_TRUE(w.Write({0x01020304, 'u', 2}, Span("xy")).ok());
  ASSERT_TRUE(w.Close().ok());
  EXPECT_EQ(test::ReadFile(dir / "u.bin"), std::string("\x04\x03\x02\x01u\x02\x00xy", 9));
}

}  // namespace
}  // namespace veupd
