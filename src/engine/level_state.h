// What one update level shares with the application and its progress
// dialog: the start-up values it runs with, the dialog seen from the engine,
// the message source, the command table and the stop signal.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/command_host.h"
#include "engine/control_reader.h"

namespace veupd {

// What the level needs from the start-up parameters.
struct LevelSetup {
  UpdDirs upd_dirs;
  std::string control_file;
  std::string log_dir;   // prepared: ends in a separator
  std::string log_name;  // prepared; empty gives kDefaultLogName
  bool in_place_mode = false;
  std::string program_dir;
  std::int32_t level = 1;
  bool server_automation = false;
};

// The progress dialog as the update thread sees it. RefreshProgress runs on
// the update thread; PostClose may be called from any thread and must not
// wait for the dialog.
class LevelDialog {
 public:
  virtual ~LevelDialog() = default;
  virtual void RefreshProgress(std::uint32_t line_count, std::uint32_t line_index,
                               std::uint32_t done_items) = 0;
  virtual void PostClose() = 0;
  // Any thread.
  virtual void BringToForeground() {}
};

// Texts of the message dictionary by number; the result is a copy. Calls
// must not overlap (the dictionary has no lock).
class TextSource {
 public:
  virtual ~TextSource() = default;
  [[nodiscard]] virtual std::string Text(std::uint32_t number) = 0;
};

// Opcode -> command, indexed by Opcode.
constexpr std::size_t kCommandSlots = static_cast<std::size_t>(kLastOpcode) + 1;
using CommandTable = std::array<CommandFn, kCommandSlots>;

}  // namespace veupd
