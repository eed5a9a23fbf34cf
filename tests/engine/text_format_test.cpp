// Formatting of texts from data files, which must never misbehave whatever
// conversions they hold, and the decimal reading of parameter values.
#include "formats/text_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace veupd {
namespace {

TEST(FormatText, FormatsTheConversionsItTakes) {
  struct Case {
    const char* name;
    std::string got;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"zero padded level", FormatText("upd%03d.log", {std::int64_t{7}}), "upd007.log"},
      {"wider than the padding", FormatText("upd%03d.log", {std::int64_t{1234}}), "upd1234.log"},
      {"plain int", FormatText("L%dL", {std::int64_t{-5}}), "L-5L"},
      {"text", FormatText("%s :\r\n[UPDATE]", {std::string_view("p.ini")}), "p.ini :\r\n[UPDATE]"},
      {"percent sign", FormatText("100%%", {}), "100%"},
      {"missing argument", FormatText("a%sb%dc", {}), "ab0c"},
      {"text to number", FormatText("%d", {std::string_view("x")}), "0"},
      {"number to text", FormatText("%s", {std::int64_t{12}}), "12"},
      {"argument not read again", FormatText("(%s) %s", {std::string_view("%s"), std::string_view("x")}), "(%s) x"},
      {"unknown conversion copied", FormatText("%n%p%f", {std::int64_t{1}}), "%n%p%f"},
      {"trailing percent", FormatText("end%", {}), "end%"},
      {"text width and precision", FormatText("[%5s|%-4s|%.2s]", {std::string_view("ab"), std::string_view("c"), std::string_view("xyz")}),
       "[   ab|c   |xy]"},
      {"hex", FormatText("%08X", {std::int64_t{0x2DFD2D88}}), "2DFD2D88"},
      {"crc text", CrcHex(0xAu) + CrcHex(0xFFFFFFFFu), "0000000AFFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(FormatText, CapsHugeWidths) {
  EXPECT_EQ(FormatText("%999999999d", {std::int64_t{1}}).size(), static_cast<std::size_t>(kMaxFormatWidth));
}

TEST(TextToInt, ReadsLeadingDigitsLikeTheCRuntime) {
  const std::pair<const char*, int> cases[] = {{"12", 12}, {"  7x", 7}, {"-3", -3}, {"abc", 0}, {"", 0},
                                               {"99999999999999", 2147483647}, {"-99999999999999", -2147483647 - 1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(TextToInt(text), value) << text;
}

}  // namespace
}  // namespace veupd
