// Error codes of the update engine: the low 16 bits select a row of the
// message table, the high 16 bits carry a subcode (pointer component or DLL
// function result). Success is exactly 0.
#pragma once

#include <cstdint>

namespace veupd {

enum class Err : std::uint16_t {
  kNone = 0,
  kUnexpectedEofControl = 1,
  kCannotOpenUpdateFile = 2,
  kNoToken = 3,
  kParamMissing = 4,
  kCannotDeleteFile = 5,
  kUnknownParam = 6,
  kCannotOpenSource = 7,
  kInvalidPath = 8,
  kCannotCopy = 9,
  kCopyCorrupted = 10,
  kCannotCreateDirectory = 11,
  kCannotCreateNewFile = 12,
  kInvalidToken = 13,
  kUnexpectedEofFile = 14,
  kFilePositionInvalid = 15,
  kFileCheckFailed = 16,
  kFdtNotFound = 17,
  kPointerFailed = 18,
  kCannotLoadPointerDll = 19,
  kUpdErrorLogExists = 20,
  kCannotEmptyDirectory = 21,
  kInvalidExtension = 22,
  kCreateProcessFailed = 23,
  kCannotLoadDll = 24,
  kFunctionNotFound = 25,
  kFunctionFailed = 26,
  kBreakAfterError = 27,
  kOldFileMissing = 28,
  kCannotRename = 29,
  kFdbUpdateFailed = 30,  // beyond the message table
};

class [[nodiscard]] ErrorCode {
 public:
  constexpr ErrorCode() = default;
  constexpr ErrorCode(Err err, std::uint16_t subcode = 0)  // NOLINT: implicit on purpose
      : value_(static_cast<std::uint32_t>(err) | (static_cast<std::uint32_t>(subcode) << 16)) {}
  static constexpr ErrorCode FromRaw(std::uint32_t raw) {
    ErrorCode c;
    c.value_ = raw;
    return c;
  }
  static constexpr ErrorCode Ok() { return {}; }

  [[nodiscard]] constexpr bool ok() const { return value_ == 0; }
  [[nodiscard]] constexpr std::uint32_t raw() const { return value_; }
  [[nodiscard]] constexpr std::uint16_t code() const { return static_cast<std::uint16_t>(value_ & 0xFFFFu); }
  [[nodiscard]] constexpr std::uint16_t subcode() const { return static_cast<std::uint16_t>(value_ >> 16); }
  [[nodiscard]] constexpr bool Is(Err err) const { return code() == static_cast<std::uint16_t>(err); }

  friend constexpr bool operator==(ErrorCode a, ErrorCode b) { return a.value_ == b.value_; }

 private:
  std::uint32_t value_ = 0;
};

}  // namespace veupd
