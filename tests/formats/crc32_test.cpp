// CRC-32 of the updater: every fast path against a bitwise loop, and the whole-file checksum with its progress.
#include "formats/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "formats/crc32_kernels.h"
#include "test_support.h"

namespace veupd {
namespace {

// The reference: bit by bit.
std::uint32_t BytewiseCrc(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  while (n-- != 0) {
    crc ^= *p++;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

// Random lengths around every block size the fast paths use, at every alignment, with random starting values.
TEST(Crc32Test, FastPathsMatchBytewiseLoop) {
  using UpdateFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);
  std::vector<std::pair<const char*, UpdateFn>> paths = {
      {"slicing", crc32::UpdateSlicing}, {"AddBytes", [](std::uint32_t crc, const void* p, std::size_t n) {
         CCrc32::AddBytes(crc, p, n);
         return crc;
       }}};
  if (crc32::ClmulAvailable()) paths.emplace_back("clmul", crc32::UpdateClmul);
  if (crc32::WideClmulAvailable()) paths.emplace_back("clmul wide", crc32::UpdateClmulWide);
  ASSERT_EQ(BytewiseCrc(0, reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0x2DFD2D88u);  // the updater's
  std::mt19937 rng(20261205);
  std::vector<std::uint8_t> data(70000);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  std::vector<std::size_t> lengths = {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 255, 256, 257,
                                      383, 384, 400, 1024, 4095, 65535, 65536, 69000};
  for (int i = 0; i < 200; ++i) lengths.push_back(rng() % 3000);
  for (const auto& [name, fn] : paths) {
    for (std::size_t len : lengths) {
      for (std::size_t offset = 0; offset < 16; offset += (len > 5000 ? 5 : 1)) {
        const std::uint32_t seed = offset == 0 ? 0 : static_cast<std::uint32_t>(rng());
        const std::uint8_t* p = data.data() + offset;
        ASSERT_EQ(fn(seed, p, len), BytewiseCrc(seed, p, len))
            << name << " length " << len << " offset " << offset;
      }
    }
  }
}

// The progress hook's calls (total, done); it answers 0 on call number g_stop_at.
std::vector<std::pair<std::uint32_t, std::uint32_t>> g_calls;
std::size_t g_stop_at = 0;
int Hook(std::uint32_t total, std::uint32_t done) {
  g_calls.emplace_back(total, done);
  return g_calls.size() == g_stop_at ? 0 : 1;
}

TEST(FileCrc, BlockEdgesProgressAndStop) {
  // The file size, the hook's call that stops (0: none), the done counts it sees.
  const std::tuple<std::uint32_t, std::size_t, std::vector<std::uint32_t>> cases[] = {
      {0, 0, {0, 0, 0}}, {1, 0, {0, 1, 1}}, {65534, 0, {0, 65534, 65534}},
      // A full block means another read, which returns nothing.
      {65535, 0, {0, 65535, 65535, 65535}}, {65536, 0, {0, 65535, 65536, 65536}},
      {131070, 0, {0, 65535, 131070, 131070, 131070}},
      {200000, 1, {0}}, {200000, 2, {0, 65535}},  // stopped before reading, in the loop
  };
  test::TempDir dir;
  for (const auto& [size, stop_at, done] : cases) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    test::WriteFile(dir / "f", bytes);
    g_calls.clear();
    g_stop_at = stop_at;
    CCrc32 crc32;
    crc32.m_pfnProgress = Hook;
    std::uint32_t crc = 1;  // not carried into the result
    EXPECT_EQ(crc32.FileCrc(crc, dir / "f"), stop_at == 0);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> calls;
    for (std::uint32_t d : done) calls.emplace_back(size, d);
    EXPECT_EQ(g_calls, calls);
    EXPECT_EQ(crc32.m_nError, stop_at == 0 ? CCrc32::kNoError : CCrc32::kStopped);
    if (stop_at == 0) {
      EXPECT_EQ(crc, BytewiseCrc(0, reinterpret_cast<const std::uint8_t*>(bytes.data()), size));
    }
  }
}

}  // namespace
}  // namespace veupd
