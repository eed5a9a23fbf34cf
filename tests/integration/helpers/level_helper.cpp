// A program a level starts (opcode 5) or the updater starts as the parent
// program; the name it is copied under picks its role, so that one build
// serves every test on every system. Its one argument is a file path F:
//   cut.exe     cuts F down to its first line (the control file, mid-level)
//   parent.exe  copies F to F + ".seen" (the parent parameter file)
//   hold.exe    writes "started" beside F, then waits until F exists
// On Windows each also writes the show command it was started with to
// "show_command.txt" in its working folder ("none" when none was given).
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace fs = std::filesystem;

static std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

static bool Write(const fs::path& p, const std::string& text) {
  return static_cast<bool>(std::ofstream(p, std::ios::binary | std::ios::trunc) << text);
}

int main(int argc, char** argv) {
#ifdef _WIN32
  STARTUPINFOA si;
  GetStartupInfoA(&si);
  Write("show_command.txt", (si.dwFlags & STARTF_USESHOWWINDOW) != 0 ? std::to_string(si.wShowWindow) : "none");
#endif
  if (argc != 2) return 2;
  const std::string role = fs::path(argv[0]).stem().string();
  const fs::path file = argv[1];
  if (role == "cut") {
    const std::string text = Read(file);
    return Write(file, text.substr(0, text.find('\n') + 1)) ? 0 : 1;
  }
  if (role == "parent") return Write(file.string() + ".seen", Read(file)) ? 0 : 1;
  if (role != "hold" || !Write(file.parent_path() / "started", "")) return 2;
  std::error_code ec;
  for (int waited = 0; waited < 120000 && !fs::exists(file, ec); waited += 20) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}
