// printf-style formatting of texts that come from data (message dictionary
// texts, the LogFileName pattern), safe against any format text: only
// integer and string conversions take arguments, everything else is copied.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace veupd {

using FormatArg = std::variant<std::int64_t, std::string_view>;

// Each conversion %[flags][width][.precision][length](d|i|u|x|X|o|c|s)
// takes the next argument; "%%" is one '%'. A conversion without an argument
// left takes 0 or "", a string given to a number conversion counts as 0, a
// number given to %s is written in decimal. Widths and precisions are capped
// at kMaxFormatWidth. Any other '%' sequence is copied as it stands.
[[nodiscard]] std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args);

constexpr int kMaxFormatWidth = 256;

// A CRC-32 value as logs and tools show it: eight upper-case hex digits.
[[nodiscard]] std::string CrcHex(std::uint32_t value);

// Decimal text-to-number as the parameter file uses it: optional blanks, an
// optional sign, the leading digits; 0 when there are none. Saturates
// instead of overflowing.
[[nodiscard]] std::int32_t TextToInt(std::string_view text);

}  // namespace veupd
