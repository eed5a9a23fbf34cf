// CDynBuf: capacity grows in whole steps so that many small appends (the
// patch engine's payload) cost few reallocations.
#include "formats/dyn_buf.h"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace veupd {

CDynBuf::CDynBuf(std::size_t grow_step) : buf_(1, 0), step_(grow_step == 0 ? 1 : grow_step) {}

void CDynBuf::SetGrowStep(std::size_t step) { step_ = step == 0 ? 1 : step; }

bool CDynBuf::Reserve(std::size_t size) {
  if (size <= Capacity()) return true;
  const std::size_t steps = size / step_ + (size % step_ != 0 ? 1 : 0);
  if (steps > (std::numeric_limits<std::size_t>::max() - 1) / step_) return false;
  const std::size_t capacity = steps * step_;
  try {
    buf_.resize(capacity + 1);  // + the trailing zero
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
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
  std::memcpy(buf_.data() + size_, data, size);
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
