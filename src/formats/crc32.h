// CRC-32 in the updater's variant: reflected IEEE 802.3 polynomial, initial
// value 0, no final complement ("123456789" -> 2DFD2D88). One calculator per
// thread; the tables are read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veupd {

class CCrc32 {
 public:
  enum Error : std::uint32_t { kNoError = 0, kStopped = 1, kCannotOpen = 2, kNoBuffer = 3 };
  using ProgressHook = int (*)(std::uint32_t total, std::uint32_t done);
  static constexpr std::size_t kReadBlock = 65535;

  CCrc32() = default;
  virtual ~CCrc32() = default;

  // Folds count bytes into crc. Bit-identical on every path (slicing or
  // carry-less multiply chosen at run time).
  static void AddBytes(std::uint32_t& crc, const void* bytes, std::size_t count);
  [[nodiscard]] bool FileCrc(std::uint32_t& crc, const std::string& path);
  [[nodiscard]] bool CheckFile(const std::string& path, std::uint32_t expected);
  [[nodiscard]] virtual bool OnProgress(std::uint32_t total, std::uint32_t done);

  ProgressHook m_pfnProgress = nullptr;
  std::uint32_t m_nError = kNoError;
};

// The update thread's calculator.
class CDeltaCrc32 : public CCrc32 {
 public:
  std::uint32_t m_nPhase = 0;  // 1 source of a copy, 2 the copy, 0 patching
};

}  // namespace veupd
