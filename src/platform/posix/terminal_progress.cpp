// The POSIX progress view: one line on standard error, redrawn in place,
// and only when standard error is a terminal. The "modal loop" is a wait
// for the close request on the main thread.
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/progress_view.h"

namespace veupd::os {
namespace {

constexpr int kBarWidth = 30;
constexpr int kFullPercent = 100;
constexpr const char* kClearToLineEnd = "\x1b[K";

class TerminalProgressView final : public ProgressView {
 public:
  TerminalProgressView() : draw_(StderrIsTerminal()) {}

  void SetRightToLeftLayout(bool /*rtl*/) override {}
  void BringToForeground(std::uintptr_t /*window*/) override {}

  int RunModal(ProgressViewEvents& events) override {
    events.OnInitDialog();
    events.OnIdle();
    std::unique_lock lock(mutex_);
    while (!ended_) {
      cv_.wait(lock, [this] { return close_requests_ > 0 || ended_; });
      if (ended_) break;
      --close_requests_;
      lock.unlock();
      events.OnCloseRequest();
      lock.lock();
    }
    if (drawn_) WriteStderr("\n");
    return result_;
  }

  void EndModal(int result) override {
    std::lock_guard lock(mutex_);
    ended_ = true;
    result_ = result;
    cv_.notify_all();
  }

  void PostCloseRequest() override {
    std::lock_guard lock(mutex_);
    ++close_requests_;
    cv_.notify_all();
  }

  void SetIcon(int /*resource_id*/) override {}
  void SetCaption(std::string_view /*text*/) override {}
  void PlaceInBackground() override {}

  void SetTitleLine(std::string_view text) override { Update([&] { title_ = text; }); }
  void SetStatusLine(std::string_view /*text*/) override {}  // the line has no room for it
  void SetCounterText(std::string_view text) override { Update([&] { counter_ = text; }); }
  void SetProgressPos(int percent) override { Update([&] { percent_ = percent; }); }

 private:
  template <typename Change>
  void Update(Change change) {
    std::lock_guard lock(mutex_);
    change();
    if (!draw_ || ended_) return;
    const int pct = percent_ < 0 ? 0 : (percent_ > kFullPercent ? kFullPercent : percent_);
    const int filled = pct * kBarWidth / kFullPercent;
    std::string line = "\r" + title_ + " [";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    line += "] " + std::to_string(pct) + "%";
    if (!counter_.empty()) line += "  " + counter_;
    line += kClearToLineEnd;
    WriteStderr(line);
    drawn_ = true;
  }

  const bool draw_;
  std::mutex mutex_;
  std::condition_variable cv_;
  int close_requests_ = 0;
  bool ended_ = false;
  int result_ = 0;
  bool drawn_ = false;
  std::string title_;
  std::string counter_;
  int percent_ = 0;
};

}  // namespace

std::unique_ptr<ProgressView> CreateProgressView() { return std::make_unique<TerminalProgressView>(); }

}  // namespace veupd::os
