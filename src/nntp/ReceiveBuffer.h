#pragma once
// The bytes of one response as they arrive. Memory is not cleared on allocation: an
// article buffer is as large as the article and is overwritten by the socket anyway.
#include <cstddef>
#include <memory>
#include <utility>

namespace zev {

class TReceiveBuffer {
 public:
  TReceiveBuffer() = default;
  explicit TReceiveBuffer(size_t capacity) { Reserve(capacity); }
  // A buffer moved from is empty, never a capacity without memory.
  TReceiveBuffer(TReceiveBuffer&& other) noexcept { *this = std::move(other); }
  TReceiveBuffer& operator=(TReceiveBuffer&& other) noexcept {
    data_ = std::move(other.data_);
    capacity_ = std::exchange(other.capacity_, 0);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }

  char* Data() { return data_.get(); }
  const char* Data() const { return data_.get(); }
  size_t Size() const { return size_; }
  size_t Capacity() const { return capacity_; }
  size_t Free() const { return capacity_ - size_; }
  void SetSize(size_t size) { size_ = size; }
  // Makes room for at least `capacity` bytes, keeping the content.
  void Reserve(size_t capacity);
  void Release() {
    data_.reset();
    capacity_ = size_ = 0;
  }

 private:
  std::unique_ptr<char[]> data_;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

}  // namespace zev
