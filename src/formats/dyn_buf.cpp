// CDynBuf: capacity grows in whole steps so that many small appends (the
// patch engine's payload) cost few reallocations.
#include "formats/dyn_buf.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace veupd {

CDynBuf::CDynBuf(std::size_t grow_step)
    : buf_(std::make_unique<std::uint8_t[]>(1)), step_(grow_step == 0 ? 1 : grow_step) {}

void CDynBuf::SetGrowStep(std::size_t step) { step_ = step == 0 ? 1 : step; }

bool CDynBuf::Reserve(std::size_t size) {
  if (size <= Capacity()) return true;
  const std::size_t steps = size / step_ + (size % step_ != 0 ? 1 : 0);
  if (steps > (std::numeric_limits<std::size_t>::max() - 1) / step_) return false;
  const std::size_t capacity = steps * step_;
  std::unique_ptr<std::uint8_t[]> grown;
  try {
    grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(grown.get(), buf_.get(), size_ + 1);  // data and its zero
  buf_ = std::move(grown);
  capacity_ = capacity;
  return true;
}

void CDynBuf::SetSize(std::size_t size) {
  size_ = size <= Capacity() ? size : Capacity();
  buf_[size_] = 0;
}

bool CDynBuf::Append(const void* data, std::size_t size) {
  if (size == 0) return true;
  if (size > std::numeric_limits<std::size_t>::max() - size_ - 1) return false;
  if (!Reserve(size_ + size)) return false;
  std::memcpy(buf_.get() + size_, data, size);
  size_ += size;
  buf_[size_] = 0;
  return true;
}

bool CDynBuf::AppendText(std::string_view text) { return Append(text.data(), text.size()); }

bool CDynBuf::AppendChar(char c) { return Append(&c, 1); }

void CDynBuf::Empty() {
  size_ = 0;
  buf_[0] = 0;
}

}  // namespace veupd
