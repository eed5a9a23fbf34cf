// Runs veupd-tool from the output folder and collects its exit status,
// standard output and standard error.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "integration/level_runner.h"
#include "test_support.h"

namespace veupd::test {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline ToolRun Tool(const TempDir& scratch, const std::vector<std::string>& args) {
  const std::string out_file = scratch / "tool_out.txt";
  const std::string err_file = scratch / "tool_err.txt";
  std::string command = "\"" + OutProgram("veupd-tool") + "\"";
  for (const auto& a : args) command += " \"" + a + "\"";
  command += " >\"" + out_file + "\" 2>\"" + err_file + "\"";
  // cmd.exe drops the first and the last quote of the whole line.
  if (IsWindowsBuild()) command = "\"" + command + "\"";
  const int status = std::system(command.c_str());
  ToolRun run{status >= 256 ? (status >> 8) & 0xFF : status, ReadFile(out_file), ReadFile(err_file)};
  // Standard output and error are text streams on Windows.
  std::erase(run.out, '\r');
  std::erase(run.err, '\r');
  return run;
}

}  // namespace veupd::test
