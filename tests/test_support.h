// Small helpers shared by the tests: a temporary folder that removes itself, and whole-file reads and writes.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace veupd::test {

class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("veupd_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Read-only files would block the removal on Windows.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec)) {
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // The path of a name inside the folder, as a native string.
  [[nodiscard]] std::string operator/(std::string_view name) const { return (path_ / name).string(); }
  [[nodiscard]] std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Takes the write permission away, as a read-only attribute does.
inline void MakeReadOnly(const std::filesystem::path& path) {
  using std::filesystem::perms;
  std::filesystem::permissions(path, perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
}

// A file of the output folder, in the system's spelling.
inline std::string OutFile(const std::string& name) {
  return (std::filesystem::path(VEUPD_OUT_DIR) / name).make_preferred().string();
}

// A program of the output folder, "<name>.exe" where the build made one.
inline std::string OutProgram(const std::string& name) {
  std::error_code ec;
  const std::string windows = OutFile(name + ".exe");
  return std::filesystem::exists(windows, ec) ? windows : OutFile(name);
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace veupd::test
