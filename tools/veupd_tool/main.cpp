// veupd-tool: makes and inspects what the updater consumes (tables, file
// databases, update data files, CRC values) and checks a level before it
// ships.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_registry.h"

#ifndef VEUPD_VERSION
#define VEUPD_VERSION "0"
#endif

namespace veupd::tool {

std::vector<ToolCommand>& ToolCommands() {
  static std::vector<ToolCommand> commands;
  return commands;
}

}  // namespace veupd::tool

namespace {

const veupd::tool::ToolCommand* FindCommand(const char* name) {
  for (const auto& command : veupd::tool::ToolCommands()) {
    if (std::strcmp(name, command.name) == 0) return &command;
  }
  return nullptr;
}

void PrintUsage(std::FILE* out) {
  std::fputs("usage: veupd-tool COMMAND [ARGS...]\n"
             "       veupd-tool help [COMMAND] | --help | --version\n"
             "       veupd-tool COMMAND --help\n\ncommands:\n",
             out);
  for (const auto& command : veupd::tool::ToolCommands()) {
    std::fprintf(out, "%s\n", command.usage);
  }
}

int CommandHelp(const char* name) {
  const veupd::tool::ToolCommand* command = FindCommand(name);
  if (command == nullptr) {
    std::fprintf(stderr, "veupd-tool: unknown command '%s'\n", name);
    PrintUsage(stderr);
    return 2;
  }
  std::printf("%s\n", command->usage);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const bool alone = argc == 2;
  if (std::strcmp(argv[1], "--version") == 0 && alone) {
    std::printf("veupd-tool %s\n", VEUPD_VERSION);
    return 0;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    if (argc == 3 && std::strcmp(argv[1], "help") == 0) return CommandHelp(argv[2]);
    PrintUsage(stdout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[2], "--help") == 0) return CommandHelp(argv[1]);
  if (const veupd::tool::ToolCommand* command = FindCommand(argv[1])) {
    return command->fn(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "veupd-tool: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
