// Test-only: makes the platform layer fail on demand, so that tests can show
// what a command leaves behind when a write, flush, close, rename or delete
// fails, or the disk runs full. A FaultScope arms the plan while it lives;
// without one every primitive pays a single relaxed load. The failure comes
// back from the primitive exactly as the system's own would (EIO / ENOSPC /
// EACCES / EWOULDBLOCK, or the matching Win32 codes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veupd::os::fault {

// The primitives a plan can make fail. kAny counts every one of them.
enum class Call : std::uint8_t {
  kOpen,           // File::Open
  kRead,           // File::Read, MappedView::Map
  kWrite,          // File::Write
  kSetLength,      // File::SetLength
  kFlush,          // File::Flush
  kClose,          // File::Close (the handle is closed all the same)
  kCopy,           // CopyFileOver
  kMove,           // MoveNoReplace, MoveReplace
  kRemove,         // RemoveFile, RemoveFolder
  kMakeDirectory,  // MakeDirectory
  kSetAttributes,  // SetReadOnly
  kAny,
};
inline constexpr std::size_t kCallKinds = static_cast<std::size_t>(Call::kAny);

enum class Failure : std::uint8_t { kIo, kDiskFull, kAccessDenied, kSharing };

// Arms a fault plan for the whole process while it lives; scopes do not nest.
// Counting starts when the scope is made. Not for concurrent use by several
// test threads, though the primitives may run on any thread meanwhile.
class FaultScope {
 public:
  FaultScope();
  ~FaultScope();
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;

  // The nth call (from 1) of that kind fails once; later calls run normally.
  FaultScope& FailCall(Call call, std::uint32_t nth, Failure failure = Failure::kIo);
  // Writes beyond `bytes` in total fail as a full disk; the write that crosses
  // the limit first writes the part that still fits. Copies count as a write
  // of nothing: they fail whole once the limit is reached.
  FaultScope& DiskFullAfter(std::uint64_t bytes);

  // Calls seen so far of a kind (kAny: all of them).
  [[nodiscard]] std::uint32_t Calls(Call call) const;
  // Whether any planned failure has been delivered.
  [[nodiscard]] bool Fired() const;
};

}  // namespace veupd::os::fault
