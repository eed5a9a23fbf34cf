// The CRC-32 update loops behind CCrc32::AddBytes, exposed so that tests and
// the benchmark can check and time each one on its own. All give the same
// value: the plain register update without initial or final complement.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veupd::crc32 {

// Slicing-by-16 with table lookups; runs everywhere.
[[nodiscard]] std::uint32_t UpdateSlicing(std::uint32_t crc, const void* bytes, std::size_t count);
// True when this processor can run UpdateClmul (x86 with PCLMULQDQ).
[[nodiscard]] bool ClmulAvailable();
// Carry-less multiply folding; call only when ClmulAvailable().
[[nodiscard]] std::uint32_t UpdateClmul(std::uint32_t crc, const void* bytes, std::size_t count);
// True when UpdateClmulWide can run (VPCLMULQDQ on 256-bit registers, AVX2).
[[nodiscard]] bool WideClmulAvailable();
// The same folding on 256-bit registers; call only when WideClmulAvailable().
[[nodiscard]] std::uint32_t UpdateClmulWide(std::uint32_t crc, const void* bytes,
                                            std::size_t count);

}  // namespace veupd::crc32
