// CDynBuf: a growable byte buffer that keeps a zero byte after its data and
// grows in whole steps of a settable size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace veupd {

class CDynBuf {
 public:
  static constexpr std::size_t kDefaultStep = 4096;

  explicit CDynBuf(std::size_t grow_step = kDefaultStep);

  void SetGrowStep(std::size_t step);
  // False when memory runs out; the buffer is then unchanged.
  bool Append(const void* data, std::size_t size);
  bool AppendText(std::string_view text);
  bool AppendChar(char c);
  void Empty();
  // Makes room for size bytes of data (capacity in whole steps); the content
  // is kept up to the old size.
  bool Reserve(std::size_t size);
  // Sets the data size (after writing into Data() directly, within Reserve).
  void SetSize(std::size_t size);

  [[nodiscard]] std::uint8_t* Data() { return buf_.get(); }
  [[nodiscard]] const std::uint8_t* Data() const { return buf_.get(); }
  [[nodiscard]] const char* Text() const { return reinterpret_cast<const char*>(buf_.get()); }
  [[nodiscard]] std::size_t Size() const { return size_; }
  [[nodiscard]] std::size_t Capacity() const { return capacity_; }

 private:
  // capacity_ + 1 bytes: room for the trailing zero. Not zero-filled, so
  // that reading a large file into it touches the memory once.
  std::unique_ptr<std::uint8_t[]> buf_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  std::size_t step_;
};

}  // namespace veupd
