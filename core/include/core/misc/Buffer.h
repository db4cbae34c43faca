#pragma once

#include <mutex>

namespace velmora {

/// A single value guarded by its own mutex: the only way values cross threads in velmora.
///
/// `push` stores a copy, `get` returns a copy; the lock is held only for the assignment or the
/// copy. For `std::shared_ptr` payloads the copy is another reference to the same object, so
/// producers hand over a new object with every push and never modify it afterwards.
/// A new buffer holds `T()`. Buffers are neither copied nor moved.
template <typename T>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  /// Replaces the held value with `value`.
  void push(T value) {
    std::lock_guard<std::mutex> guard(lock_);
    data_ = std::move(value);
  }

  /// Returns a copy of the held value.
  T get() const {
    std::lock_guard<std::mutex> guard(lock_);
    return data_;
  }

  /// Resets the held value to `T()` and returns the value it held before.
  T clear() {
    std::lock_guard<std::mutex> guard(lock_);
    T previous = std::move(data_);
    data_ = T();
    return previous;
  }

 private:
  T data_{};
  mutable std::mutex lock_;
};

}  // namespace velmora
