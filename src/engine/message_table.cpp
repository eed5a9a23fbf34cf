// Error message texts, stored already padded so that the log shows the
// column layout the operators know.
#include "engine/message_table.h"

#include <array>

namespace veupd {
namespace {

constexpr std::array<std::string_view, 32> kMessages = {
    "No error                             ",
    "Unexpected EOF in control file       ",
    "Cannot open update file              ",
    "No token found in control file line  ",
    "Needed parameter is missing          ",
    "Cannot delete file                   ",
    "Unknown paramter                     ",
    "Cannot open/read source file         ",
    "Invalid path                         ",
    "Cannot copy file                     ",
    "Copy of file is corrupted (CRC32)    ",
    "Cannot create directory              ",
    "Cannot open/create new file          ",
    "Invalid update control token (ADU)   ",
    "Unexpected EOF in file               ",
    "File position invalid                ",
    "File check failed (CRC32)            ",
    "FDT file not found                   ",
    "Error creating pointer               ",
    "Cannot load DODUDAV.DLL              ",
    "UpdError.log still exists            ",
    "Cannot delete/empty directory        ",
    "Invalid extension for function call  ",
    "CreateProcess failed                 ",
    "Cannot load DLL (LoadLibrary failed) ",
    "Cannot find function in DLL          ",
    "Function call in DLL failed          ",
    "Break after error                    ",
    "Old BIN-file missing for token U/D   ",
    "Cannot rename file                   ",
    // Beyond the 30 rows of codes 0 to 29: the FDB update reports code 30,
    // and an operator is better served by a real text than by a blank.
    "FDB update failed                    ",
    "Unknown error code                   ",
};
constexpr std::size_t kUnknownRow = kMessages.size() - 1;

constexpr bool AllPadded() {
  for (std::string_view m : kMessages) {
    if (m.size() != kMessageWidth) return false;
  }
  return true;
}
static_assert(AllPadded(), "every message is stored padded to kMessageWidth");

}  // namespace

std::string_view ErrorMessage(std::uint16_t code) {
  return code < kUnknownRow ? kMessages[code] : kMessages[kUnknownRow];
}

}  // namespace veupd
