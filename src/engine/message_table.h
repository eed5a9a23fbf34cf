// The error message table: one fixed English text per error code, padded
// with blanks to the width the level log shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace veupd {

constexpr std::size_t kMessageWidth = 37;

// The padded text of a code's low 16 bits. Codes 0 to 29 are the table; code
// 30 (the FDB update's own failure) has the extra text "FDB update failed";
// any higher code shows "Unknown error code". Never empty.
[[nodiscard]] std::string_view ErrorMessage(std::uint16_t code);

}  // namespace veupd
