// CRC-32 of the updater: reflected IEEE 802.3 polynomial, register starting
// at 0, no final complement. AddBytes runs at memory speed: slicing-by-16
// everywhere, carry-less multiply folding on x86 processors that have it.
#include "formats/crc32.h"

#include <array>
#include <new>
#include <vector>

#include "formats/crc32_kernels.h"
#include "platform/platform.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VEUPD_CRC32_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace veupd {
namespace crc32 {
namespace {

constexpr std::uint32_t kReflectedPoly = 0xEDB88320u;
constexpr std::size_t kSlices = 16;
using Table = std::array<std::array<std::uint32_t, 256>, kSlices>;

// tables[0] is the classic one-byte table made by the bitwise rule;
// tables[k][b] is the register after byte b followed by k zero bytes.
constexpr Table MakeTables() {
  Table t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t c = b;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? (c >> 1) ^ kReflectedPoly : c >> 1;
    t[0][b] = c;
  }
  for (std::size_t k = 1; k < kSlices; ++k) {
    for (std::size_t b = 0; b < 256; ++b) {
      t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
  }
  return t;
}

constexpr Table kTables = MakeTables();

// Little-endian load by bytes: the same on every processor; compilers turn
// it into one load where that is legal.
inline std::uint32_t LoadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint32_t Byte(std::uint32_t v, int n) { return (v >> (8 * n)) & 0xFF; }

}  // namespace

std::uint32_t UpdateSlicing(std::uint32_t crc, const void* bytes, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  const Table& t = kTables;
  while (count >= kSlices) {
    const std::uint32_t a = LoadLE32(p) ^ crc;
    const std::uint32_t b = LoadLE32(p + 4);
    const std::uint32_t c = LoadLE32(p + 8);
    const std::uint32_t d = LoadLE32(p + 12);
    crc = t[15][Byte(a, 0)] ^ t[14][Byte(a, 1)] ^ t[13][Byte(a, 2)] ^ t[12][Byte(a, 3)] ^
          t[11][Byte(b, 0)] ^ t[10][Byte(b, 1)] ^ t[9][Byte(b, 2)] ^ t[8][Byte(b, 3)] ^
          t[7][Byte(c, 0)] ^ t[6][Byte(c, 1)] ^ t[5][Byte(c, 2)] ^ t[4][Byte(c, 3)] ^
          t[3][Byte(d, 0)] ^ t[2][Byte(d, 1)] ^ t[1][Byte(d, 2)] ^ t[0][Byte(d, 3)];
    p += kSlices;
    count -= kSlices;
  }
  while (count-- != 0) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
  return crc;
}

#if defined(VEUPD_CRC32_CLMUL)

namespace {

// Folding constants: x^n mod P, bit-reflected and shifted left by one, for
// the distances named. The low half multiplies the low 64 bits.
constexpr long long kFold1024Lo = 0x1E88EF372;  // x^(1024+32)
constexpr long long kFold1024Hi = 0x14A7FE880;  // x^(1024-32)
constexpr long long kFold128Lo = 0x1751997D0;   // x^(128+32)
constexpr long long kFold128Hi = 0x0CCAA009E;   // x^(128-32)
constexpr long long kFold64 = 0x163CD6124;      // x^64
constexpr long long kPoly33 = 0x1DB710641;      // P, reflected
constexpr long long kBarrettMu = 0x1F7011641;   // x^64 / P, reflected
constexpr std::size_t kVec = 16;
constexpr std::size_t kLanes = 8;                  // registers folded side by side
constexpr std::size_t kWideMin = 2 * kLanes * kVec;  // below this one register suffices
constexpr std::size_t kClmulMin = 64;  // shorter inputs go to the table loop

#define VEUPD_CLMUL_TARGET __attribute__((target("sse2,pclmul")))

VEUPD_CLMUL_TARGET inline __m128i Load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// acc * x^distance, reduced to 128 bits, plus the next block.
VEUPD_CLMUL_TARGET inline __m128i Fold(__m128i acc, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds the 16-byte blocks left after the wide loops into acc, then reduces
// 128 bits -> 64 -> 32 and finishes with a Barrett reduction.
VEUPD_CLMUL_TARGET inline std::uint32_t FoldTailAndReduce(__m128i acc, const std::uint8_t* p,
                                                          std::size_t count) {
  const __m128i k128 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
  for (; count >= kVec; p += kVec, count -= kVec) acc = Fold(acc, k128, Load(p));
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  acc = _mm_xor_si128(_mm_clmulepi64_si128(acc, k128, 0x10), _mm_srli_si128(acc, 8));
  const __m128i k64 = _mm_set_epi64x(0, kFold64);
  acc = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(acc, mask32), k64, 0x00),
                      _mm_srli_si128(acc, 4));
  const __m128i barrett = _mm_set_epi64x(kBarrettMu, kPoly33);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(acc, mask32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
  acc = _mm_xor_si128(acc, t);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(acc, 4)));
}

// Folds count bytes (count >= 16, a multiple of 16) into crc.
VEUPD_CLMUL_TARGET std::uint32_t FoldBlocks(std::uint32_t crc, const std::uint8_t* p,
                                            std::size_t count) {
  const __m128i start = _mm_cvtsi32_si128(static_cast<int>(crc));
  if (count < kWideMin) return FoldTailAndReduce(_mm_xor_si128(Load(p), start), p + kVec, count - kVec);
  const __m128i k1024 = _mm_set_epi64x(kFold1024Hi, kFold1024Lo);
  const __m128i k128 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
  __m128i x[kLanes];
  for (std::size_t i = 0; i < kLanes; ++i) x[i] = Load(p + i * kVec);
  x[0] = _mm_xor_si128(x[0], start);
  p += kLanes * kVec;
  count -= kLanes * kVec;
  while (count >= kLanes * kVec) {
    for (std::size_t i = 0; i < kLanes; ++i) x[i] = Fold(x[i], k1024, Load(p + i * kVec));
    p += kLanes * kVec;
    count -= kLanes * kVec;
  }
  __m128i acc = x[0];
  for (std::size_t i = 1; i < kLanes; ++i) acc = Fold(acc, k128, x[i]);
  return FoldTailAndReduce(acc, p, count);
}

// The same folding with 256-bit registers (two 128-bit lanes each) where the
// processor has VPCLMULQDQ: twice the bytes per instruction.
#define VEUPD_CLMUL_WIDE_TARGET __attribute__((target("avx2,vpclmulqdq,pclmul")))
constexpr std::size_t kWideRegs = kLanes / 2;

VEUPD_CLMUL_WIDE_TARGET inline __m256i LoadWide(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

VEUPD_CLMUL_WIDE_TARGET std::uint32_t FoldBlocksWide(std::uint32_t crc, const std::uint8_t* p,
                                                     std::size_t count) {
  if (count < kWideMin) return FoldBlocks(crc, p, count);
  const __m256i k1024 = _mm256_set_epi64x(kFold1024Hi, kFold1024Lo, kFold1024Hi, kFold1024Lo);
  const __m128i k128 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
  __m256i y[kWideRegs];
  for (std::size_t i = 0; i < kWideRegs; ++i) y[i] = LoadWide(p + i * 2 * kVec);
  y[0] = _mm256_xor_si256(y[0], _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(crc)));
  p += kLanes * kVec;
  count -= kLanes * kVec;
  while (count >= kLanes * kVec) {
    for (std::size_t i = 0; i < kWideRegs; ++i) {
      const __m256i lo = _mm256_clmulepi64_epi128(y[i], k1024, 0x00);
      const __m256i hi = _mm256_clmulepi64_epi128(y[i], k1024, 0x11);
      y[i] = _mm256_xor_si256(_mm256_xor_si256(lo, hi), LoadWide(p + i * 2 * kVec));
    }
    p += kLanes * kVec;
    count -= kLanes * kVec;
  }
  // The eight 128-bit lanes in stream order, folded into one.
  __m128i acc = _mm256_castsi256_si128(y[0]);
  acc = Fold(acc, k128, _mm256_extracti128_si256(y[0], 1));
  for (std::size_t i = 1; i < kWideRegs; ++i) {
    acc = Fold(acc, k128, _mm256_castsi256_si128(y[i]));
    acc = Fold(acc, k128, _mm256_extracti128_si256(y[i], 1));
  }
  return FoldTailAndReduce(acc, p, count);
}

}  // namespace

bool ClmulAvailable() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
  return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}

bool WideClmulAvailable() {
  // Also checks that the system saves the 256-bit registers.
  __builtin_cpu_init();  // in case this runs before the runtime's own start-up
  return ClmulAvailable() && __builtin_cpu_supports("avx2") &&
         __builtin_cpu_supports("vpclmulqdq");
}

std::uint32_t UpdateClmul(std::uint32_t crc, const void* bytes, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  if (count < kClmulMin) return UpdateSlicing(crc, p, count);
  const std::size_t blocks = count & ~(kVec - 1);
  crc = FoldBlocks(crc, p, blocks);
  return UpdateSlicing(crc, p + blocks, count - blocks);
}

std::uint32_t UpdateClmulWide(std::uint32_t crc, const void* bytes, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  if (count < kClmulMin) return UpdateSlicing(crc, p, count);
  const std::size_t blocks = count & ~(kVec - 1);
  crc = FoldBlocksWide(crc, p, blocks);
  return UpdateSlicing(crc, p + blocks, count - blocks);
}

#else

bool ClmulAvailable() { return false; }

bool WideClmulAvailable() { return false; }

std::uint32_t UpdateClmul(std::uint32_t crc, const void* bytes, std::size_t count) {
  return UpdateSlicing(crc, bytes, count);
}

std::uint32_t UpdateClmulWide(std::uint32_t crc, const void* bytes, std::size_t count) {
  return UpdateSlicing(crc, bytes, count);
}

#endif

}  // namespace crc32

namespace {

using UpdateFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

UpdateFn ChooseUpdate() {
  if (crc32::WideClmulAvailable()) return crc32::UpdateClmulWide;
  return crc32::ClmulAvailable() ? crc32::UpdateClmul : crc32::UpdateSlicing;
}

}  // namespace

void CCrc32::AddBytes(std::uint32_t& crc, const void* bytes, std::size_t count) {
  // Chosen once per process; the processor does not change under us.
  static const UpdateFn update = ChooseUpdate();
  if (count != 0) crc = update(crc, bytes, count);
}

bool CCrc32::OnProgress(std::uint32_t total, std::uint32_t done) {
  if (m_pfnProgress == nullptr) return true;
  if (m_pfnProgress(total, done) != 0) return true;
  m_nError = kStopped;
  return false;
}

bool CCrc32::FileCrc(std::uint32_t& crc, const std::string& path) {
  m_nError = kNoError;
  crc = 0;
  os::File file;
  if (!file.Open(path, os::OpenMode::kReadDenyWrite).ok()) {
    m_nError = kCannotOpen;
    return false;
  }
  std::uint64_t length = 0;
  if (!file.Length(length).ok()) {
    m_nError = kCannotOpen;
    return false;
  }
  const auto total = static_cast<std::uint32_t>(length);  // low 32 bits, as reported
  if (!OnProgress(total, 0)) return false;

  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(kReadBlock);
  } catch (const std::bad_alloc&) {
    m_nError = kNoBuffer;
    return false;
  }
  std::uint32_t done = 0;  // the low 32 bits, as the hook gets them
  std::uint64_t read_total = 0;
  std::size_t got = 0;
  bool go_on = true;
  do {
    // Asking for no more than the length left saves the read that would
    // only find the end (writers are kept out, so the length holds).
    const std::uint64_t left = length > read_total ? length - read_total : 0;
    const std::size_t want = left < kReadBlock ? static_cast<std::size_t>(left) : kReadBlock;
    if (!file.Read(buffer.data(), want, got).ok()) {
      // A read error mid-file means the same to callers as an unreadable file.
      m_nError = kCannotOpen;
      crc = 0;
      return false;
    }
    AddBytes(crc, buffer.data(), got);
    read_total += got;
    done += static_cast<std::uint32_t>(got);
    go_on = OnProgress(total, done);
  } while (go_on && got == kReadBlock);
  if (!go_on) return false;
  (void)file.Close();  // opened for reading only: nothing can be lost here
  // The value is complete; a hook that says stop now changes nothing.
  (void)OnProgress(total, total);
  return true;
}

bool CCrc32::CheckFile(const std::string& path, std::uint32_t expected) {
  std::uint32_t crc = 0;
  return FileCrc(crc, path) && crc == expected;
}

}  // namespace veupd
