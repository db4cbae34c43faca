#pragma once

/// Serialisation into XCDR1 (plain CDR), the encoding ROS 2 nodes on Cyclone DDS exchange.
///
/// A serialised sample is a 4-byte encapsulation header (CDR_LE: 0x00 0x01, then two option
/// bytes) followed by the members in declaration order. Every primitive is aligned to its own
/// size (8-byte types included), counted from the first byte after the header. Strings are a
/// uint32 length including the terminating NUL, the characters and the NUL; sequences a uint32
/// element count and the elements; arrays just the elements. The writer pads the sample to a
/// multiple of 4 bytes and records the padding in the low two bits of the options.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace rosidl_typesupport_velmora {

/// Appends the CDR encoding of values to a byte buffer (little-endian, this machine's order).
class CdrWriter {
 public:
  /// Starts a sample in `buffer` (cleared, capacity kept) with its encapsulation header.
  explicit CdrWriter(std::vector<uint8_t>& buffer) : buffer_(buffer) {
    static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE 754 floats required");
    buffer_.resize(kHeaderSize);
    buffer_[0] = 0x00;  // CDR_LE
    buffer_[1] = 0x01;
    buffer_[2] = 0x00;  // options
    buffer_[3] = 0x00;
  }

  /// Appends an arithmetic value at its natural alignment.
  template <typename T>
  void write(T value) {
    static_assert(std::is_arithmetic<T>::value, "CDR primitives are arithmetic");
    align(sizeof(T));
    append(&value, sizeof(T));
  }

  /// Appends `count` arithmetic values in one block.
  template <typename T>
  void write_array(const T* values, size_t count) {
    static_assert(std::is_arithmetic<T>::value && !std::is_same<T, bool>::value,
                  "bulk CDR arrays hold non-bool arithmetic values");
    if (count == 0) return;
    align(sizeof(T));
    append(values, sizeof(T) * count);
  }

  /// Appends a sequence length; throws std::length_error beyond 2^32 - 1 elements.
  void write_length(size_t length) {
    if (length > std::numeric_limits<uint32_t>::max()) {
      throw std::length_error("CDR sequence longer than 2^32 - 1 elements");
    }
    write(static_cast<uint32_t>(length));
  }

  /// Appends a string: length with NUL, characters, NUL.
  template <typename StringT>
  void write_string(const StringT& text) {
    write_length(text.size() + 1);
    append(text.data(), text.size());
    buffer_.push_back(0);
  }

  /// Pads the sample to a multiple of 4 bytes and records the padding in the header.
  void finish() {
    const size_t padding = (4 - buffer_.size() % 4) % 4;
    buffer_.insert(buffer_.end(), padding, 0);
    buffer_[3] = static_cast<uint8_t>(padding);
  }

 private:
  void align(size_t alignment) {
    const size_t offset = buffer_.size() - kHeaderSize;
    const size_t padding = (alignment - offset % alignment) % alignment;
    buffer_.insert(buffer_.end(), padding, 0);
  }
  void append(const void* data, size_t size) {
    const size_t old_size = buffer_.size();
    buffer_.resize(old_size + size);
    if (size > 0) std::memcpy(buffer_.data() + old_size, data, size);
  }

  static constexpr size_t kHeaderSize = 4;
  std::vector<uint8_t>& buffer_;
};

}  // namespace rosidl_typesupport_velmora
