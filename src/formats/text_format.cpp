// Bounded printf subset for texts the program does not control.
#include "formats/text_format.h"

#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

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

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<FormatArg> args) {
  std::vector<FormatArg> rest(args);
  std::size_t next_arg = 0;
  std::string out;
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // Parse the conversion; rebuild it from bounded parts for snprintf.
    std::size_t j = i + 1;
    std::string conversion = "%";
    bool left = false;
    std::size_t width = 0;
    std::optional<std::size_t> precision;
    while (j < format.size() && IsFlag(format[j])) {
      left = left || format[j] == '-';
      conversion += format[j++];
    }
    if (j < format.size() && IsDigit(format[j])) {
      width = static_cast<std::size_t>(ReadBoundedNumber(format, j));
      conversion += std::to_string(width);
    }
    if (j < format.size() && format[j] == '.') {
      ++j;
      precision = static_cast<std::size_t>(ReadBoundedNumber(format, j));
      conversion += '.' + std::to_string(*precision);
    }
    while (j < format.size() && IsLength(format[j])) ++j;
    const char conv = j < format.size() ? format[j] : '\0';
    const bool numeric = conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' ||
                         conv == 'X' || conv == 'o' || conv == 'c';
    if (!numeric && conv != 's') {
      out += '%';  // not a conversion we take: copied as it stands
      ++i;
      continue;
    }
    const FormatArg missing = conv == 's' ? FormatArg{std::string_view()} : FormatArg{std::int64_t{0}};
    const FormatArg arg = next_arg < rest.size() ? rest[next_arg] : missing;
    ++next_arg;
    char buf[2 * kMaxFormatWidth + 32];
    if (conv == 's') {
      std::string text;
      if (const auto* s = std::get_if<std::string_view>(&arg)) {
        text = std::string(*s);
      } else {
        text = std::to_string(std::get<std::int64_t>(arg));
      }
      // Width and precision of %s on a text of any length: done by hand.
      if (precision && text.size() > *precision) text.resize(*precision);
      if (text.size() < width) {
        const std::string pad(width - text.size(), ' ');
        text = left ? text + pad : pad + text;
      }
      out += text;
    } else {
      const auto* n = std::get_if<std::int64_t>(&arg);
      const long long value = n ? static_cast<long long>(*n) : 0;
      conversion += "ll";
      conversion += conv == 'c' ? 'd' : conv;
      std::snprintf(buf, sizeof(buf), conversion.c_str(), value);
      out += conv == 'c' ? std::string(1, static_cast<char>(value)) : std::string(buf);
    }
    i = j + 1;
  }
  return out;
}

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
