#include "nntp/ReceiveBuffer.h"

#include <cstring>

namespace zev {

void TReceiveBuffer::Reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = capacity;
}

}  // namespace zev
