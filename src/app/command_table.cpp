// Opcode -> command. Slot 0 is FDT-Update, which the update thread also runs
// for every opcode outside 1 to 13. A command that this build lacks is
// reported as unsupported on its line instead of being silently skipped.
#include "app/command_table.h"

#include <string>

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

// Placeholder for a command not in this build: one error entry (code 6,
// naming the opcode) and a failed step line.
template <int kOpcode>
ErrorCode NotYetSupported(CommandHost& host) {
  const ErrorCode rc = Err::kUnknownParam;
  const std::string what = "opcode " + std::to_string(kOpcode) + " not supported by this build";
  host.ReportError(rc, what);
  host.ReportStep(/*success=*/false, what, rc);
  return rc;
}

const CommandTable kCommands = {
    /*  0 FDT-Update               */ RunFdtUpdate,
    /*  1 copy files               */ RunCopyFiles,
    /*  2 clean directory          */ RunCleanDirectory,
    /*  3 edit ini file            */ RunEditIniFile,
    /*  4 Fix-Update               */ RunFixUpdate,
    /*  5 program or DLL call      */ RunProgramCall,
    /*  6 create pointer           */ RunCreatePointer,
    /*  7 empty directory          */ RunEmptyDirectory,
    /*  8 break after error        */ RunBreakAfterError,
    /*  9 conditional command      */ RunConditional,
    /* 10 FDT-Update-InPlace       */ RunFdtUpdateInPlace,
    /* 11 Fix-Update in place      */ RunFixUpdateInPlace,
    /* 12 rename                   */ RunRename,
    /* 13 update FDB               */ RunUpdateFdb,
};

}  // namespace

const CommandTable& Commands() { return kCommands; }

}  // namespace veupd
