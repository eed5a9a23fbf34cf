// Shared pieces of the fuzz targets: a scratch folder of this process, input
// files written into it, and inputs made of several parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace veupd::fuzz {

// Parts of one input are joined by this line in the seed files.
inline constexpr std::string_view kPartMarker = "\n--8<--\n";

// A folder only this process uses, made on first use and removed at exit.
// Every iteration writes its files under the same names in it, so nothing
// piles up however long a run lasts.
class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[40];
      std::snprintf(name, sizeof name, "veupd-fuzz-%08x%08x", random(), random());
      const std::filesystem::path candidate = (ec ? std::filesystem::path("/tmp") : base) / name;
      if (std::filesystem::create_directory(candidate, ec) && !ec) {
        path_ = candidate.string();
        return;
      }
    }
    std::fprintf(stderr, "fuzz: cannot make a scratch folder\n");
    std::abort();
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  [[nodiscard]] std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline ScratchDir& Scratch() {
  static ScratchDir dir;
  return dir;
}

// Replaces the file's content; aborts when that fails, since every result
// after it would be meaningless.
inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

inline void RemoveFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// The input cut at the part marker into exactly n parts; the last one takes
// the rest, missing ones are empty.
inline std::vector<std::string_view> SplitParts(const std::uint8_t* data, std::size_t size, std::size_t n) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < n) {
    const std::size_t at = rest.find(kPartMarker);
    if (at == std::string_view::npos) break;
    parts.push_back(rest.substr(0, at));
    rest.remove_prefix(at + kPartMarker.size());
  }
  parts.push_back(rest);
  parts.resize(n);
  return parts;
}

// Lines of a text part (LF-separated, at most max of them).
inline std::vector<std::string> Lines(std::string_view text, std::size_t max) {
  std::vector<std::string> lines;
  while (!text.empty() && lines.size() < max) {
    const std::size_t nl = text.find('\n');
    lines.emplace_back(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

// A broken promise of the code under test: reported and ended like a crash.
#define VEUPD_FUZZ_CHECK(cond)                                                          \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);     \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

}  // namespace veupd::fuzz
