// CRC-32 throughput: AddBytes (and its table-only path) against zlib,
// libdeflate, a one-lookup-per-byte loop and memcpy on the same buffers;
// FileCrc against the same libraries and `cksum` on one cached 1 GiB file.
// Every variant's value is checked against zlib before timing starts.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "formats/crc32.h"
#include "formats/crc32_kernels.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kSmall = std::size_t{64} << 10;
constexpr std::size_t kLarge = std::size_t{1} << 30;
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

const std::vector<std::uint8_t>& Data(std::size_t size) {
  static std::vector<std::uint8_t> small, large;
  std::vector<std::uint8_t>& data = size == kSmall ? small : large;
  if (data.size() != size) {
    data.resize(size);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < size; i += 8) {
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      std::memcpy(data.data() + i, &x, size - i < 8 ? size - i : 8);
    }
  }
  return data;
}

std::uint32_t Bytewise(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(256);
    for (std::uint32_t b = 0; b < 256; ++b) {
      std::uint32_t c = b;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      t[b] = c;
    }
    return t;
  }();
  while (n-- != 0) crc = (crc >> 8) ^ table[(crc ^ *p++) & 0xFF];
  return crc;
}

std::uint32_t Ours(const std::uint8_t* p, std::size_t n) {
  std::uint32_t crc = 0;
  veupd::CCrc32::AddBytes(crc, p, n);
  return crc;
}
std::uint32_t Slicing(const std::uint8_t* p, std::size_t n) { return veupd::crc32::UpdateSlicing(0, p, n); }
// The 128-bit folding alone (what processors without VPCLMULQDQ run).
std::uint32_t Clmul128(const std::uint8_t* p, std::size_t n) {
  // Asked once: CPUID is slow, above all inside a virtual machine.
  static const bool clmul = veupd::crc32::ClmulAvailable();
  return clmul ? veupd::crc32::UpdateClmul(0, p, n) : veupd::crc32::UpdateSlicing(0, p, n);
}
std::uint32_t Zlib(const std::uint8_t* p, std::size_t n) { return crc32_z(kAllOnes, p, n) ^ kAllOnes; }
std::uint32_t Libdeflate(const std::uint8_t* p, std::size_t n) {
  return libdeflate_crc32(kAllOnes, p, n) ^ kAllOnes;
}
std::uint32_t OneLookupPerByte(const std::uint8_t* p, std::size_t n) { return Bytewise(0, p, n); }

using CrcFn = std::uint32_t (*)(const std::uint8_t*, std::size_t);

void Check(const char* what, std::uint32_t ours, std::uint32_t zlib) {
  if (ours != zlib) {
    std::fprintf(stderr, "%s: %08X differs from zlib's %08X\n", what, ours, zlib);
    std::abort();
  }
}

template <CrcFn fn>
void BM_Buffer(benchmark::State& state) {
  const auto& data = Data(static_cast<std::size_t>(state.range(0)));
  Check("buffer", fn(data.data(), data.size()), Zlib(data.data(), data.size()));
  for (auto _ : state) benchmark::DoNotOptimize(fn(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Memcpy(benchmark::State& state) {
  const auto& data = Data(static_cast<std::size_t>(state.range(0)));
  std::vector<std::uint8_t> copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Buffer runs count the thread's CPU time, which keeps the ratios fair on a
// busy machine; file runs use wall time, since cksum runs in its own process.
#define VEUPD_BUFFER_BENCH(fn) \
  BENCHMARK_TEMPLATE(BM_Buffer, fn)->Name("AddBytes/" #fn)->Arg(kSmall)->Arg(kLarge)
VEUPD_BUFFER_BENCH(Ours);
VEUPD_BUFFER_BENCH(Zlib);
VEUPD_BUFFER_BENCH(Libdeflate);
VEUPD_BUFFER_BENCH(Clmul128);
VEUPD_BUFFER_BENCH(Slicing);
VEUPD_BUFFER_BENCH(OneLookupPerByte);
BENCHMARK(BM_Memcpy)->Name("AddBytes/memcpy")->Arg(kSmall)->Arg(kLarge);

// ---------------------------------------------------------------- files

std::string FilePath() {
  std::error_code ec;
  return (std::filesystem::temp_directory_path(ec) / "veupd_crc32_bench.bin").string();
}

// Writes the 1 GiB file once and reads it once, so that every file run
// starts from the page cache.
const std::string& CachedFile() {
  static const std::string path = [] {
    const std::string p = FilePath();
    const auto& data = Data(kLarge);
    std::error_code ec;
    if (std::filesystem::file_size(p, ec) != kLarge || ec) {
      veupd::os::File out;
      if (!out.Open(p, veupd::os::OpenMode::kCreateTruncate).ok() ||
          !out.Write(data.data(), data.size()).ok() || !out.Close().ok()) {
        std::fprintf(stderr, "cannot write %s\n", p.c_str());
        std::abort();
      }
    }
    veupd::CCrc32 warm;
    std::uint32_t crc = 0;
    if (!warm.FileCrc(crc, p)) {
      std::fprintf(stderr, "cannot read %s\n", p.c_str());
      std::abort();
    }
    Check("FileCrc", crc, Zlib(data.data(), data.size()));
    return p;
  }();
  return path;
}

void BM_FileCrc(benchmark::State& state) {
  const std::string& path = CachedFile();
  veupd::CCrc32 crc;
  for (auto _ : state) {
    std::uint32_t value = 0;
    if (!crc.FileCrc(value, path)) state.SkipWithError("FileCrc failed");
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kLarge);
}

// Running values in the libraries' own convention (complemented).
std::uint32_t ZlibRun(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32_z(crc, p, n));
}
std::uint32_t LibdeflateRun(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  return libdeflate_crc32(crc, p, n);
}
using RunFn = std::uint32_t (*)(std::uint32_t, const std::uint8_t*, std::size_t);

// The same 65,535-byte reads as FileCrc, folded by the other libraries.
template <RunFn fn>
void BM_FileLoop(benchmark::State& state) {
  const std::string& path = CachedFile();
  std::vector<std::uint8_t> buffer(veupd::CCrc32::kReadBlock);
  std::uint32_t crc = 0;
  for (auto _ : state) {
    veupd::os::File in;
    if (!in.Open(path, veupd::os::OpenMode::kReadDenyWrite).ok()) state.SkipWithError("open failed");
    crc = kAllOnes;
    std::size_t got = 0;
    do {
      if (!in.Read(buffer.data(), buffer.size(), got).ok()) break;
      crc = fn(crc, buffer.data(), got);
    } while (got == buffer.size());
    benchmark::DoNotOptimize(crc);
  }
  const auto& data = Data(kLarge);
  Check("file loop", crc ^ kAllOnes, Zlib(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kLarge);
}

// `cksum` (a different CRC, but the reference tool for whole-file speed) on
// the same cached file, as a started program.
void BM_Cksum(benchmark::State& state) {
  const std::string& path = CachedFile();
  for (auto _ : state) {
    veupd::os::Process cksum;
    if (!cksum.Start("cksum \"" + path + "\"", "").ok() || !cksum.Wait(60000) ||
        cksum.ExitCode() != 0) {
      state.SkipWithError("cksum did not run");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kLarge);
}

BENCHMARK(BM_FileCrc)->Name("FileCrc/Ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_FileLoop, ZlibRun)->Name("FileCrc/Zlib")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_FileLoop, LibdeflateRun)->Name("FileCrc/Libdeflate")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cksum)->Name("FileCrc/cksum")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::fprintf(stderr, "AddBytes runs: %s\n",
               veupd::crc32::WideClmulAvailable() ? "256-bit carry-less multiply folding"
               : veupd::crc32::ClmulAvailable()   ? "128-bit carry-less multiply folding"
                                                  : "slicing-by-16 tables");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove(FilePath(), ec);
  return 0;
}
