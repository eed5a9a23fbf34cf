// What the update thread shares with the application and its progress
// dialog: level-wide values, the dialog seen from the engine, and the
// message source. The application owns all of them for the whole run.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "engine/command_host.h"
#include "formats/crc32.h"

namespace veupd {

// Written by the update thread, read by the dialog's handlers on the main
// thread; atomics keep that free of data races without any locking.
struct LevelState {
  std::int32_t level = 1;
  bool server_automation = false;
  std::atomic<bool> running{false};
  std::atomic<bool> finished{false};
  std::atomic<std::uint32_t> result{0};
  // The program is asked to end from outside: the run loop stops before its
  // next command, at a point where no file is half-done.
  std::atomic<bool> stop_requested{false};
  // The level ended on that request with control lines left: unfinished.
  std::atomic<bool> stopped{false};
};

// The progress dialog as the update thread sees it. RefreshProgress runs on
// the update thread; PostClose may be called from any thread and must not
// wait for the dialog.
class LevelDialog : public CrcProgressSink {
 public:
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

// Opcode -> command. Slot 0 holds FDT-Update, which also runs every opcode
// outside 1 to 13; slots 1 to 13 hold their commands.
constexpr std::size_t kCommandSlots = 14;
using CommandTable = std::array<CommandFn, kCommandSlots>;

}  // namespace veupd
