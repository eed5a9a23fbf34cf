// LevelRunner: one update level from start to outcome. Owns the update
// thread, the level log writer, the stop signal and the outcome; the
// application starts it once, shows its progress and may ask it to stop.
// Start, stop requests and the waits run on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "engine/level_state.h"
#include "engine/log_class.h"
#include "engine/stop_signal.h"
#include "engine/update_thread.h"

namespace veupd {

class LevelRunner {
 public:
  // How a wait passes the time.
  using WaitStep = std::function<void(std::uint32_t ms)>;

  LevelRunner(LevelSetup setup, TextSource& texts, const CommandTable& commands);
  // Joins the thread; one that would not end must have been detached, and
  // the runner must then outlive it.
  ~LevelRunner();
  LevelRunner(const LevelRunner&) = delete;
  LevelRunner& operator=(const LevelRunner&) = delete;

  // The level starter: clears the level log unless in-place mode is on and
  // starts the thread one step below normal priority. Once per runner;
  // false when the level had been started already.
  bool Start(LevelDialog& dialog);
  void RequestStop(StopCause cause) { stop_.Request(cause); }

  // Waits up to bound_ms for the thread to return and joins it; false when
  // it still runs.
  [[nodiscard]] bool WaitForEnd(std::uint32_t bound_ms, const WaitStep& wait);
  // Leaves a thread that would not end running on its own.
  void Detach();

  [[nodiscard]] bool Started() const { return started_; }
  // True once the thread function has returned (or none was started).
  [[nodiscard]] bool ThreadEnded() const { return !started_ || ended_; }
  [[nodiscard]] bool Running() const { return running_; }
  [[nodiscard]] bool Finished() const { return finished_; }
  // The number of errors reported (1 without the pointer component).
  [[nodiscard]] std::uint32_t Result() const { return result_; }
  // Stopped from outside before its last line.
  [[nodiscard]] bool Unfinished() const { return unfinished_; }
  [[nodiscard]] const LevelSetup& Setup() const { return setup_; }
  [[nodiscard]] CUpdateThread& Worker() { return worker_; }

 private:
  friend class CUpdateThread;
  void ThreadMain();

  LevelSetup setup_;
  TextSource& texts_;
  const CommandTable& commands_;
  CLogClass log_;
  StopSignal stop_;
  // Written by the update thread, read on the main thread.
  std::atomic<bool> running_{false};
  std::atomic<bool> finished_{false};
  std::atomic<std::uint32_t> result_{0};
  std::atomic<bool> unfinished_{false};
  CUpdateThread worker_{*this};
  std::thread thread_;
  bool started_ = false;
  std::atomic<bool> ended_{false};
};

}  // namespace veupd
