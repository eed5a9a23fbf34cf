// Read-only file views, and the guard that turns a page lost under a view
// (SIGBUS: the file was cut short, or the disk failed) into a page of zeros
// and a flag, instead of the end of the process.
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace veupd::os {
namespace {

// Views alive at once across the process; a view that finds no free slot
// is not made, and its caller reads instead.
constexpr std::size_t kSlots = 16;

struct Slot {
  std::atomic<std::uintptr_t> begin{0};  // 0: free
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> damaged{false};
  std::atomic<bool> taken{false};
};
std::array<Slot, kSlots> g_slots;
struct sigaction g_previous {};
std::uintptr_t g_page_size = 4096;

void HandOn(int signal, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(signal, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
  } else {
    // The fault repeats on return and now meets the system's own action.
    (void)::sigaction(SIGBUS, &g_previous, nullptr);
  }
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Slot& slot : g_slots) {
    const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin == 0 || at < begin || at >= slot.end.load(std::memory_order_acquire)) continue;
    const int saved = errno;
    // mmap is a plain system call here; the faulting read is retried on
    // return and finds zeros.
    void* page = reinterpret_cast<void*>(at & ~(g_page_size - 1));
    const bool patched = ::mmap(page, g_page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == page;
    errno = saved;
    if (!patched) break;
    slot.damaged.store(true, std::memory_order_release);
    return;
  }
  HandOn(signal, info, context);
}

bool InstallGuard() {
  static const bool installed = [] {
    g_page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, &g_previous) == 0;
  }();
  return installed;
}

}  // namespace

MappedView::~MappedView() { Unmap(); }

OsResult MappedView::Map(const File& file, std::uint64_t length) {
  Unmap();
  if (!file.impl_ || length == 0 || length > SIZE_MAX) return OsResult::Fail(OsErr::kOther, EINVAL);
  if (OsResult failed; posix::Injected(fault::Call::kRead, failed)) return failed;
  if (!InstallGuard()) return posix::LastError();
  int slot = -1;
  for (std::size_t i = 0; i < kSlots && slot < 0; ++i) {
    if (!g_slots[i].taken.exchange(true, std::memory_order_acq_rel)) slot = static_cast<int>(i);
  }
  if (slot < 0) return OsResult::Fail(OsErr::kOther, EBUSY);
  const auto size = static_cast<std::size_t>(length);
  void* base = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, file.impl_->fd, 0);
  if (base == MAP_FAILED) {
    const OsResult failed = posix::LastError();
    g_slots[static_cast<std::size_t>(slot)].taken.store(false, std::memory_order_release);
    return failed;
  }
  Slot& s = g_slots[static_cast<std::size_t>(slot)];
  s.damaged.store(false, std::memory_order_relaxed);
  s.end.store(reinterpret_cast<std::uintptr_t>(base) + size, std::memory_order_relaxed);
  s.begin.store(reinterpret_cast<std::uintptr_t>(base), std::memory_order_release);
  base_ = base;
  size_ = size;
  slot_ = slot;
  return OsResult::Ok();
}

bool MappedView::Damaged() const {
  return slot_ >= 0 && g_slots[static_cast<std::size_t>(slot_)].damaged.load(std::memory_order_acquire);
}

void MappedView::Unmap() {
  if (base_ == nullptr) return;
  Slot& s = g_slots[static_cast<std::size_t>(slot_)];
  s.begin.store(0, std::memory_order_release);  // before the range can be reused
  (void)::munmap(base_, size_);
  s.taken.store(false, std::memory_order_release);
  base_ = nullptr;
  size_ = 0;
  slot_ = -1;
}

}  // namespace veupd::os
