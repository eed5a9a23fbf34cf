// Progress dialog logic: title, bar, counter and the level's start and end.
#include "app/progress_dialog.h"

#include <array>
#include <utility>

#include "formats/text_format.h"
#include "base/ascii.h"
#include "platform/platform.h"

namespace veupd {
namespace {

struct Brand {
  std::string_view code;
  std::string_view display_name;
};

constexpr std::array<Brand, 7> kBrands = {{
    {"ve", "VELA"},
    {"nr", "NOR2"},
    {"ax", "Axenta"},
    {"bv", "Borvik"},
    {"cl", "Calindo"},
    {"mv", "Merovan"},
    {"sv", "Solvano"},
}};

constexpr std::uint32_t kPercentScale = 100;
constexpr std::uint32_t kThousand = 1000;
constexpr std::uint32_t kMillion = 1000000;
constexpr int kExitStillRunning = 1;  // the level failed, as far as anyone can tell

std::string ThreeDigits(std::uint32_t v) {
  return FormatText("%03u", {std::int64_t{v}});
}

}  // namespace

std::string BrandDisplayName(std::string_view brand_code) {
  for (const Brand& b : kBrands) {
    if (EqualsNoCase(b.code, brand_code)) return std::string(b.display_name);
  }
  return std::string(brand_code);
}

bool IsSecondBrand(std::string_view brand_code) { return EqualsNoCase(brand_code, kSecondBrandCode); }

std::string FormatCounter(std::uint32_t value) {
  if (value >= kMillion) {
    return std::to_string(value / kMillion) + "." + ThreeDigits(value / kThousand % kThousand) + "." +
           ThreeDigits(value % kThousand);
  }
  if (value >= kThousand) return std::to_string(value / kThousand) + "." + ThreeDigits(value % kThousand);
  return std::to_string(value);
}

std::uint32_t PercentDone(std::uint32_t line_index, std::uint32_t line_count) {
  const std::uint32_t p = line_index * kPercentScale / line_count;  // 32-bit product: may wrap, then capped
  return p > kPercentScale ? kPercentScale : p;
}

CVeUpdateDlg::CVeUpdateDlg(os::ProgressView& view, TextSource& texts, LevelRunner& runner, DialogParams params)
    : view_(view), texts_(texts), runner_(runner), params_(std::move(params)) {}

int CVeUpdateDlg::DoModal() { return view_.RunModal(*this); }

void CVeUpdateDlg::OnInitDialog() {
  const bool second = IsSecondBrand(params_.brand_code);
  view_.SetIcon(second ? os::kIconSecondBrand : os::kIconDefault);
  const std::string word = texts_.Text(kTitleWordText);
  view_.SetTitleLine(FormatText("%s %s %d", {std::string_view(BrandDisplayName(params_.brand_code)),
                                             std::string_view(word), std::int64_t{params_.level}}));
  if (second) view_.SetCaption(kSecondBrandCaption);
  view_.SetStatusLine(texts_.Text(kStatusText));
  view_.PlaceInBackground();
  if (params_.caller_window != 0) view_.BringToForeground(params_.caller_window);
}

void CVeUpdateDlg::OnIdle() { (void)runner_.Start(*this); }  // once: later calls do nothing

void CVeUpdateDlg::OnCloseRequest() {
  if (!runner_.Finished() && !runner_.ThreadEnded()) {
    // Not the thread's own request (it sets the finished flag first): the
    // program is being ended from outside. The level stops before its next
    // command, and the thread's own close request then ends the dialog.
    runner_.RequestStop(StopCause::kFromOutside);
    return;
  }
  // The close request comes while the thread is still returning. One that
  // would not end in time is left running on its own: threads cannot be
  // killed portably.
  if (!runner_.WaitForEnd(kLevelEndBoundMs, [](std::uint32_t ms) { os::SleepMs(ms); })) runner_.Detach();
  success_ = runner_.Result() == 0;
  view_.EndModal(kModalDone);
}

void CVeUpdateDlg::OnSessionEnd() {
  if (!runner_.Started() || runner_.Finished()) return;
  runner_.RequestStop(StopCause::kFromOutside);
  // A thread still inside a command would go on using this dialog and the
  // application after them; end here, before either goes away. The level
  // log and the checkpoint show where the level stood.
  if (!runner_.WaitForEnd(kLevelEndBoundMs, [this](std::uint32_t ms) { view_.WaitAnsweringControls(ms); })) {
    os::EndProcessNow(kExitStillRunning);
  }
}

void CVeUpdateDlg::RefreshProgress(std::uint32_t line_count, std::uint32_t line_index,
                                   std::uint32_t done_items) {
  if (line_count == 0) {
    view_.SetProgressPos(0);
  } else if (const std::uint32_t p = PercentDone(line_index, line_count); p != shown_percent_) {
    shown_percent_ = p;
    view_.SetProgressPos(static_cast<int>(p));
  }
  // The counter field shows only the counter (text 118 is never written
  // into it).
  if (done_items != shown_counter_) {
    shown_counter_ = done_items;
    view_.SetCounterText(FormatCounter(done_items));
  }
}

}  // namespace veupd
