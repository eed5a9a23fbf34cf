// Table benchmarks: dictionary lookups per second on a 100,000-text table in
// both index forms, and the pointer component's indexing of a 100 MB data
// file against reading that file once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "tables/fdt.h"
#include "tables/fdt_index_builder.h"
#include "tables/message_dictionary.h"

namespace {

using namespace veupd;

constexpr std::uint32_t kTexts = 100000;
constexpr std::uint64_t kBigDataSize = 100ull << 20;
constexpr std::size_t kReadChunk = 1 << 20;

std::string Le16(std::uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
std::string Name13(std::string name) {
  name.resize(13, '\0');
  return name;
}

// The message-table shape: u32 number, then the text "D0".
std::string Structure(std::uint32_t flags) {
  std::string s = Le16(40) + Le16(0) + Le16(2) + Le16(0) + Name13("B@.DAT") + Name13("B@.IDX") + Le16(0) +
                  Le16(8) + Le32(flags);
  s += std::string("NR\0", 3) + Le16(4) + Le16(1) + Le16(3) + Le16(0) + Le16(0x10);
  s += std::string("D0\0", 3) + Le16(250) + Le16(1) + Le16(3) + Le16(0) + Le16(0);
  s += Le16(0) + Le16(0) + Le16(0);
  return s;
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  os::File file;
  if (!file.Open(path, os::OpenMode::kCreateTruncate).ok()) return false;
  const bool ok = file.Write(bytes.data(), bytes.size()).ok();
  return file.Close().ok() && ok;
}

std::string BenchDir() {
  std::error_code ec;
  const auto dir = std::filesystem::temp_directory_path(ec) / "veupd_table_bench";
  std::filesystem::create_directories(dir, ec);
  return dir.string();
}

std::string Text(std::uint32_t n) { return "Message number " + std::to_string(n) + " of the bench table"; }

// Two languages: "L" in the list form, "T" in the tree form.
struct Dictionaries {
  std::string dir = BenchDir();
  bool ready = false;
  Dictionaries() {
    std::string data;
    for (std::uint32_t n = 1; n <= kTexts; ++n) {
      const std::string text = Text(n);
      data += Le16(static_cast<std::uint16_t>(5 + text.size())) + Le32(n) +
              static_cast<char>(text.size()) + text;
    }
    ready = WriteAll(os::JoinPath(dir, "L.STR"), Structure(fdt::kFlagBackward)) &&
            WriteAll(os::JoinPath(dir, "T.STR"), Structure(fdt::kFlagBackward | fdt::kFlagTree)) &&
            WriteAll(os::JoinPath(dir, "BL.DAT"), data) && WriteAll(os::JoinPath(dir, "BT.DAT"), data) &&
            fdt::BuildIndex(os::JoinPath(dir, "L.STR"), os::JoinPath(dir, "BL.DAT"), os::JoinPath(dir, "BL.IDX")) ==
                fdt::IndexResult::kOk &&
            fdt::BuildIndex(os::JoinPath(dir, "T.STR"), os::JoinPath(dir, "BT.DAT"), os::JoinPath(dir, "BT.IDX")) ==
                fdt::IndexResult::kOk;
  }
};

const Dictionaries& SharedDictionaries() {
  static const Dictionaries dictionaries;
  return dictionaries;
}

void Lookups(benchmark::State& state, const char* structure, const char* language) {
  const Dictionaries& tables = SharedDictionaries();
  TDM_FdtTessel dictionary(nullptr, nullptr, "D0");
  if (!tables.ready ||
      !dictionary.Open(os::JoinPath(tables.dir, structure).c_str(), language, "D0", nullptr, nullptr)) {
    state.SkipWithError("tables not built");
    return;
  }
  std::vector<std::uint32_t> numbers(4096);
  std::mt19937 random(7);
  for (auto& n : numbers) n = 1 + random() % kTexts;
  std::size_t i = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const char* text = dictionary.GetText(numbers[i++ % numbers.size()]);
    bytes += text[0] != '\0';
    benchmark::DoNotOptimize(text);
  }
  if (bytes != static_cast<std::size_t>(state.iterations())) state.SkipWithError("a lookup missed");
  state.SetItemsProcessed(state.iterations());
}

void BM_DictionaryLookupList(benchmark::State& state) { Lookups(state, "L.STR", "L"); }
void BM_DictionaryLookupTree(benchmark::State& state) { Lookups(state, "T.STR", "T"); }
BENCHMARK(BM_DictionaryLookupList);
BENCHMARK(BM_DictionaryLookupTree);

// 100 MB of message-like records (texts of 20 to 200 bytes), in shuffled key
// order (the component has to sort) or in key order (as tables are usually
// written).
struct BigTable {
  std::string dir = BenchDir();
  std::string data_path;
  bool ready = false;
  std::size_t records = 0;
  explicit BigTable(bool shuffled) : data_path(os::JoinPath(dir, shuffled ? "BIG.DAT" : "BIGS.DAT")) {
    std::vector<std::uint32_t> keys;
    std::mt19937 random(11);
    std::uint64_t size = 0;
    std::vector<std::uint16_t> lengths;
    while (size < kBigDataSize) {
      const auto length = static_cast<std::uint16_t>(20 + random() % 181);
      lengths.push_back(length);
      size += 2 + 5 + length;
    }
    records = lengths.size();
    keys.resize(records);
    for (std::size_t i = 0; i < records; ++i) keys[i] = static_cast<std::uint32_t>(i + 1);
    if (shuffled) std::shuffle(keys.begin(), keys.end(), random);
    std::string data;
    data.reserve(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < records; ++i) {
      data += Le16(static_cast<std::uint16_t>(5 + lengths[i])) + Le32(keys[i]) + static_cast<char>(lengths[i]);
      data.append(lengths[i], 'x');
    }
    ready = WriteAll(os::JoinPath(dir, "BIG.STR"), Structure(fdt::kFlagBackward)) &&
            WriteAll(os::JoinPath(dir, "BIGT.STR"), Structure(fdt::kFlagBackward | fdt::kFlagTree)) &&
            WriteAll(data_path, data);
  }
};

const BigTable& SharedBigTable(bool shuffled = true) {
  static const BigTable shuffled_table(true);
  if (shuffled) return shuffled_table;
  static const BigTable sorted_table(false);
  return sorted_table;
}

void BM_ReadDataFileOnce(benchmark::State& state) {
  const BigTable& table = SharedBigTable();
  std::vector<char> buffer(kReadChunk);
  for (auto _ : state) {
    os::File file;
    if (!table.ready || !file.Open(table.data_path, os::OpenMode::kReadDenyWrite).ok()) {
      state.SkipWithError("no data file");
      return;
    }
    std::size_t got = 0;
    std::uint64_t total = 0;
    do {
      if (!file.Read(buffer.data(), buffer.size(), got).ok()) break;
      total += got;
    } while (got > 0);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigDataSize));
  // Every case reports the same counters: the CSV reporter stops on a row
  // without one when the cases run interleaved.
  state.counters["records"] = static_cast<double>(table.records);
}

void Index(benchmark::State& state, const char* structure, bool shuffled = true) {
  const BigTable& table = SharedBigTable(shuffled);
  for (auto _ : state) {
    const fdt::IndexResult result = fdt::BuildIndex(os::JoinPath(table.dir, structure), table.data_path,
                                                    os::JoinPath(table.dir, "BIG.IDX"));
    if (!table.ready || result != fdt::IndexResult::kOk) {
      state.SkipWithError("indexing failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigDataSize));
  state.counters["records"] = static_cast<double>(table.records);
}

void BM_IndexDataFileList(benchmark::State& state) { Index(state, "BIG.STR"); }
void BM_IndexDataFileTree(benchmark::State& state) { Index(state, "BIGT.STR"); }
void BM_IndexSortedDataFileList(benchmark::State& state) { Index(state, "BIG.STR", /*shuffled=*/false); }
BENCHMARK(BM_ReadDataFileOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IndexDataFileList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IndexDataFileTree)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IndexSortedDataFileList)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
