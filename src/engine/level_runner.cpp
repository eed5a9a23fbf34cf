// The level's thread and its lifetime.
#include "engine/level_runner.h"

#include <chrono>
#include <exception>
#include <utility>

namespace veupd {

LevelRunner::LevelRunner(LevelSetup setup, TextSource& texts, const CommandTable& commands)
    : setup_(std::move(setup)), texts_(texts), commands_(commands), log_(LevelLogPath(setup_)) {}

LevelRunner::~LevelRunner() {
  if (thread_.joinable()) thread_.join();
}

bool LevelRunner::Start(LevelDialog& dialog) {
  if (Started()) return false;
  if (!setup_.in_place_mode && os::Exists(log_.Path())) {
    (void)os::RemoveFile(log_.Path());  // a log that stays only gets appended to
  }
  worker_.SetDialog(&dialog);
  result_ = 0;
  started_ = true;
  thread_ = std::thread([this] { ThreadMain(); });
  return true;
}

void LevelRunner::ThreadMain() {
  os::LowerCurrentThreadPriority();
  try {
    worker_.Run();
  } catch (const std::exception& e) {
    worker_.EndOnInternalError(e.what());
  } catch (...) {
    worker_.EndOnInternalError({});
  }
  ended_ = true;
}

bool LevelRunner::WaitForEnd(std::uint32_t bound_ms, const WaitStep& wait) {
  constexpr std::uint32_t kStepMs = 1;  // the process ends as soon as the thread does
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  while (!ThreadEnded() && std::chrono::steady_clock::now() < deadline) wait(kStepMs);
  if (!ThreadEnded()) return false;
  if (thread_.joinable()) thread_.join();
  return true;
}

void LevelRunner::Detach() {
  if (thread_.joinable()) thread_.detach();
}

}  // namespace veupd
