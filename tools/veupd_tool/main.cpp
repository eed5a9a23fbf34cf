// veupd-tool: makes and inspects what the updater consumes (tables, file
// databases, update data files, CRC values).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_registry.h"

namespace veupd::tool {

std::vector<ToolCommand>& ToolCommands() {
  static std::vector<ToolCommand> commands;
  return commands;
}

}  // namespace veupd::tool

namespace {

void PrintUsage(std::FILE* out) {
  std::fputs("usage: veupd-tool COMMAND [ARGS...]\n\ncommands:\n", out);
  for (const auto& command : veupd::tool::ToolCommands()) {
    std::fprintf(out, "%s\n", command.usage);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const auto& command : veupd::tool::ToolCommands()) {
    if (std::strcmp(argv[1], command.name) == 0) {
      return command.fn(std::vector<std::string>(argv + 2, argv + argc));
    }
  }
  std::fprintf(stderr, "veupd-tool: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
