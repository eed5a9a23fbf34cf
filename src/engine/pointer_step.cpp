#include "engine/pointer_step.h"

#include "platform/platform.h"

namespace veupd {

namespace {

constexpr char kPlaceholder = '@';
constexpr std::uint32_t kPointerResultMask = 0xFFFF;

}  // namespace

bool FillPlaceholder(std::string& name, std::string_view value) {
  const std::size_t first = name.find(kPlaceholder);
  if (first == std::string::npos) return false;
  name.replace(first, name.rfind(kPlaceholder) - first + 1, value);
  return true;
}

std::uint16_t CallPointerComponent(CommandHost& host, const std::string& structure, const std::string& data_path,
                                   const std::string& index_path) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(host.CallPointer(structure, data_path, index_path)) &
                                    kPointerResultMask);
}

ErrorCode RunPointerStep(CommandHost& host, const std::string& structure, const std::string& data_path,
                         const std::string& index_path, FileFound found, bool& data_found) {
  data_found = found(data_path);
  if (data_found) {
    const std::uint16_t r = CallPointerComponent(host, structure, data_path, index_path);
    if (r != 0) return host.Fail(ErrorCode(Err::kPointerFailed, r), structure, data_path, index_path);
    return ErrorCode::Ok();
  }
  if (found(index_path)) (void)os::RemoveFile(index_path);
  return ErrorCode::Ok();
}

}  // namespace veupd
