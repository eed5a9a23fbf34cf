// Subcommands of veupd-tool register themselves here, one file each.
#pragma once

#include <string>
#include <vector>

namespace veupd::tool {

// args: the words after the subcommand name. Returns the exit status.
using ToolFn = int (*)(const std::vector<std::string>& args);

struct ToolCommand {
  const char* name;
  const char* usage;  // one or more lines shown by "veupd-tool help"
  ToolFn fn;
};

std::vector<ToolCommand>& ToolCommands();

struct ToolRegistrar {
  explicit ToolRegistrar(ToolCommand command) { ToolCommands().push_back(command); }
};

}  // namespace veupd::tool
