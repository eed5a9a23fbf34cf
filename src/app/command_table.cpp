// Opcode -> command: the one place that maps them.
#include "app/command_table.h"

// Command headers, one per command.
#include "engine/break_after_error.h"
#include "commands/call_program.h"
#include "commands/clean_directory.h"
#include "commands/conditional.h"
#include "commands/copy_files.h"
#include "commands/create_pointer.h"
#include "commands/edit_ini_file.h"
#include "commands/rename_file.h"
#include "commands/update_fdb.h"
#include "patch/patch_commands.h"

namespace veupd {
namespace {

CommandTable MakeTable() {
  CommandTable table{};
  const auto put = [&](Opcode opcode, CommandFn fn) { table[static_cast<std::size_t>(opcode)] = fn; };
  put(Opcode::kFdtUpdate, RunFdtUpdate);
  put(Opcode::kCopyFiles, RunCopyFiles);
  put(Opcode::kCleanDirectory, RunCleanDirectory);
  put(Opcode::kEditIniFile, RunEditIniFile);
  put(Opcode::kFixUpdate, RunFixUpdate);
  put(Opcode::kProgramCall, RunProgramCall);
  put(Opcode::kCreatePointer, RunCreatePointer);
  put(Opcode::kEmptyDirectory, RunEmptyDirectory);
  put(Opcode::kBreakAfterError, RunBreakAfterError);
  put(Opcode::kConditional, RunConditional);
  put(Opcode::kFdtUpdateInPlace, RunFdtUpdateInPlace);
  put(Opcode::kFixUpdateInPlace, RunFixUpdateInPlace);
  put(Opcode::kRename, RunRename);
  put(Opcode::kUpdateFdb, RunUpdateFdb);
  return table;
}

const CommandTable kCommands = MakeTable();

}  // namespace

const CommandTable& Commands() { return kCommands; }

}  // namespace veupd
