#include "app/console_notes.h"

#include <cstdio>

#include "platform/platform.h"

#ifndef VEUPD_VERSION
#define VEUPD_VERSION "0"
#endif

namespace veupd {

std::string LevelSummary(std::int32_t level, std::uint32_t errors, const std::string& log_path, bool log_exists) {
  std::string text = "level " + std::to_string(level) + " finished ";
  if (errors == 0) {
    text += "without errors";
  } else {
    text += "with " + std::to_string(errors) + (errors == 1 ? " error" : " errors");
  }
  text += log_exists ? "; log: " + log_path : "; no log written (" + log_path + ")";
  return text;
}

void ConsoleWrite(std::string_view text) {
#ifdef _WIN32
  (void)text;
#else
  os::WriteStderr(text);
#endif
}

void ConsoleNote(std::string_view text) {
  std::string line = "veupd: ";
  line += text;
  line += '\n';
  ConsoleWrite(line);
}

std::string UsageText() {
  return "usage: veupd PARAMETER-FILE\n"
         "       veupd --help | --version\n"
         "\n"
         "Runs the update level that the parameter file (INI, section [UPDATE], CR LF\n"
         "line ends) describes: its key File names the control file. The outcome goes\n"
         "to the level log and, as DedozUduResult, into the file named by ParentParams.\n"
         "\n"
         "Exit status: 0 the level ran without errors, 1 the level ran with errors,\n"
         "2 no level ran (no or unreadable parameter file, message file missing,\n"
         "program-update preparation failed).\n"
         "\n"
         "Check a level before shipping it: veupd-tool check PARAMETER-FILE\n";
}

std::string VersionText() { return std::string("veupd ") + VEUPD_VERSION + "\n"; }

void ShowInfo(std::string_view text) {
#ifdef _WIN32
  os::ShowMessage(text, "VeUpd");
#else
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
#endif
}

}  // namespace veupd
