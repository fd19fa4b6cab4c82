// A growable byte buffer whose free space is not zeroed: receiving into it costs only the copy.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace electron_morvane::bench {

class ByteBuffer {
 public:
  const char* Data() const { return data_.get(); }
  std::size_t Size() const { return size_; }

  // Room for at least `bytes` more at End().
  char* Prepare(std::size_t bytes) {
    if (capacity_ - size_ < bytes) Grow(size_ + bytes);
    return data_.get() + size_;
  }
  void Commit(std::size_t bytes) { size_ += bytes; }
  void Reserve(std::size_t bytes) {
    if (capacity_ < bytes) Grow(bytes);
  }
  // Drops the first `bytes`.
  void Consume(std::size_t bytes) {
    std::memmove(data_.get(), data_.get() + bytes, size_ - bytes);
    size_ -= bytes;
  }

 private:
  void Grow(std::size_t atLeast) {
    std::size_t capacity = capacity_ == 0 ? 64 * 1024 : capacity_;
    while (capacity < atLeast) capacity *= 2;
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace electron_morvane::bench
