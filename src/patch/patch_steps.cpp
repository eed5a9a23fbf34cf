// Rules shared by the patch commands; see the header.
#include "patch/patch_steps.h"

#include <algorithm>

#include "engine/pointer_step.h"
#include "base/ascii.h"
#include "platform/platform.h"

namespace veupd {

namespace {

constexpr char kPlaceholder = '@';
constexpr std::string_view kTemporaryExtension = "DU$";

}  // namespace

std::string InPlaceTemporaryPath(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::string(path) + "." + std::string(kTemporaryExtension);
  return std::string(path.substr(0, dot + 1)) + std::string(kTemporaryExtension);
}

bool SubstitutePlaceholder(std::string_view data_pattern, std::string_view actual_name, std::string& index_path) {
  std::string_view variable;
  if (const std::size_t before = data_pattern.find(kPlaceholder); before != std::string_view::npos) {
    const std::size_t after = data_pattern.size() - data_pattern.rfind(kPlaceholder) - 1;
    variable = actual_name.substr(std::min(before, actual_name.size()));
    if (variable.size() > after) variable.remove_suffix(after);
  }
  return FillPlaceholder(index_path, variable);
}

bool SamePathIgnoringCase(const std::string& a, const std::string& b) {
  const std::string ra = os::ResolvePath(a);
  const std::string rb = os::ResolvePath(b);
  return EqualsNoCase(ra, rb);
}

}  // namespace veupd
