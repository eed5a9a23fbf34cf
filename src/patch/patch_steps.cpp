// Rules shared by the patch commands; see the header.
#include "patch/patch_steps.h"

#include <algorithm>

#include "platform/platform.h"

namespace veupd {

namespace {

constexpr char kPlaceholder = '@';
constexpr std::string_view kTemporaryExtension = "DU$";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string InPlaceTemporaryPath(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::string(path) + "." + std::string(kTemporaryExtension);
  return std::string(path.substr(0, dot + 1)) + std::string(kTemporaryExtension);
}

bool SubstitutePlaceholder(std::string_view data_pattern, std::string_view actual_name, std::string& index_path) {
  const std::size_t first_in_pattern = data_pattern.find(kPlaceholder);
  const std::size_t last_in_pattern = data_pattern.rfind(kPlaceholder);
  const std::size_t first = index_path.find(kPlaceholder);
  if (first == std::string::npos) return false;
  const std::size_t last = index_path.rfind(kPlaceholder);

  std::string_view variable;
  if (first_in_pattern != std::string_view::npos) {
    const std::size_t before = first_in_pattern;
    const std::size_t after = data_pattern.size() - last_in_pattern - 1;
    variable = actual_name.substr(std::min(before, actual_name.size()));
    if (variable.size() > after) variable.remove_suffix(after);
  }
  index_path.replace(first, last - first + 1, variable);
  return true;
}

bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
  const std::string ra = os::ResolvePath(a);
  const std::string rb = os::ResolvePath(b);
  return std::equal(ra.begin(), ra.end(), rb.begin(), rb.end(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

}  // namespace veupd
