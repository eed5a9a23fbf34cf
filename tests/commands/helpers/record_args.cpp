// Started by the program-call tests: writes its working folder and arguments, one a line, to "record_args.txt" there.
// "exit=N" sets the exit code; "wait" keeps it running until a file "stop" appears there. On Windows it also writes the
// show command it was started with to "show_command.txt" ("none" when none was given).
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  int exit_code = 0;
  bool wait = false;
  std::ofstream out(cwd / "record_args.txt", std::ios::binary | std::ios::trunc);
  out << "cwd=" << cwd.string() << "\n";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    out << "arg=" << arg << "\n";
    if (arg.rfind("exit=", 0) == 0) exit_code = std::atoi(arg.c_str() + 5);
    wait = wait || arg == "wait";
  }
  out.close();
#ifdef _WIN32
  STARTUPINFOA si;
  GetStartupInfoA(&si);
  std::ofstream(cwd / "show_command.txt", std::ios::binary | std::ios::trunc)
      << ((si.dwFlags & STARTF_USESHOWWINDOW) != 0 ? std::to_string(si.wShowWindow) : std::string("none"));
#endif
  while (wait && !std::filesystem::exists(cwd / "stop", ec)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return exit_code;
}
