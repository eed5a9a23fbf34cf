// Bounded printf subset for texts the program does not control.
#include "formats/text_format.h"

#include <cstdio>
#include <limits>
#include <optional>

namespace veupd {
namespace {

bool IsFlag(char c) { return c == '-' || c == '0' || c == '+' || c == ' ' || c == '#'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLength(char c) { return c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't'; }

int ReadBoundedNumber(std::string_view f, std::size_t& i) {
  int n = 0;
  while (i < f.size() && IsDigit(f[i])) {
    if (n < kMaxFormatWidth) n = n * 10 + (f[i] - '0');
    ++i;
  }
  return n < kMaxFormatWidth ? n : kMaxFormatWidth;
}

bool IsNumeric(char c) { return c == 'd' || c == 'i' || c == 'u' || c == 'x' || c == 'X' || c == 'o' || c == 'c'; }

// One conversion: flags, width and precision rebuilt from bounded parts for
// snprintf, and where its conversion character stands.
struct Conversion {
  std::string spec = "%";
  bool left = false;
  std::size_t width = 0;
  std::optional<std::size_t> precision;
  char type = '\0';
  std::size_t end = 0;
};

Conversion ParseConversion(std::string_view f, std::size_t percent) {
  Conversion c;
  std::size_t j = percent + 1;
  while (j < f.size() && IsFlag(f[j])) {
    c.left = c.left || f[j] == '-';
    c.spec += f[j++];
  }
  if (j < f.size() && IsDigit(f[j])) {
    c.width = static_cast<std::size_t>(ReadBoundedNumber(f, j));
    c.spec += std::to_string(c.width);
  }
  if (j < f.size() && f[j] == '.') {
    ++j;
    c.precision = static_cast<std::size_t>(ReadBoundedNumber(f, j));
    c.spec += '.' + std::to_string(*c.precision);
  }
  while (j < f.size() && IsLength(f[j])) ++j;
  c.type = j < f.size() ? f[j] : '\0';
  c.end = j;
  return c;
}

// Width and precision of %s on a text of any length: done by hand.
std::string FormatString(const Conversion& c, const FormatArg& arg) {
  std::string text;
  if (const auto* s = std::get_if<std::string_view>(&arg)) {
    text = std::string(*s);
  } else {
    text = std::to_string(std::get<std::int64_t>(arg));
  }
  if (c.precision && text.size() > *c.precision) text.resize(*c.precision);
  if (text.size() < c.width) {
    const std::string pad(c.width - text.size(), ' ');
    text = c.left ? text + pad : pad + text;
  }
  return text;
}

std::string FormatNumber(const Conversion& c, const FormatArg& arg) {
  const auto* n = std::get_if<std::int64_t>(&arg);
  const long long value = n ? static_cast<long long>(*n) : 0;
  if (c.type == 'c') return std::string(1, static_cast<char>(value));
  char buf[2 * kMaxFormatWidth + 32];
  std::snprintf(buf, sizeof(buf), (c.spec + "ll" + c.type).c_str(), value);
  return buf;
}

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args) {
  auto next_arg = args.begin();
  std::string out;
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      out += format[i++];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    const Conversion c = ParseConversion(format, i);
    if (!IsNumeric(c.type) && c.type != 's') {
      out += '%';  // not a conversion we take: copied as it stands
      ++i;
      continue;
    }
    const FormatArg missing = c.type == 's' ? FormatArg{std::string_view()} : FormatArg{std::int64_t{0}};
    const FormatArg arg = next_arg != args.end() ? *next_arg++ : missing;
    out += c.type == 's' ? FormatString(c, arg) : FormatNumber(c, arg);
    i = c.end + 1;
  }
  return out;
}

std::string CrcHex(std::uint32_t value) { return FormatText("%08X", {std::int64_t{value}}); }

std::int32_t TextToInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  while (i < text.size() && IsDigit(text[i])) {
    value = value * 10 + (text[i++] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value > kLimit - 1 ? kLimit - 1 : value);
}

}  // namespace veupd
