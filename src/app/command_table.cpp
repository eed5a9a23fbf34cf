// Opcode -> command: the one place that maps them. Slot 0 is FDT-Update,
// which the update thread also runs for every opcode outside 1 to 13.
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
