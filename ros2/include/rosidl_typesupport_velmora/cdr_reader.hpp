#pragma once

/// Deserialisation of XCDR1 (plain CDR) samples; the encoding is described in cdr_writer.hpp.
/// Every read is checked against the end of the sample, every sequence length against its bound
/// and the bytes left, so a malformed or hostile sample yields a CdrError, never an overrun or a
/// huge allocation.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace rosidl_typesupport_velmora {

/// A sample that does not decode as its type: names the field and what is wrong with it.
class CdrError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reads values from one serialised sample, in either byte order.
class CdrReader {
 public:
  /// No bound on a sequence or string length (other than the bytes left).
  static constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

  /// Reads the encapsulation header of the `size` bytes at `data` (kept, not copied). Throws
  /// CdrError for a sample shorter than its header or an encoding other than plain CDR.
  CdrReader(const uint8_t* data, size_t size) : data_(data), end_(size) {
    if (size < kHeaderSize)
      throw CdrError("sample of " + std::to_string(size) + " bytes has no header");
    if (data[0] != 0x00 || (data[1] != 0x00 && data[1] != 0x01)) {
      throw CdrError("unsupported encapsulation 0x" + hex(data[0]) + hex(data[1]) +
                     " (plain CDR expected)");
    }
    swap_ = (data[1] == 0x00);  // CDR_BE
    const size_t padding = data[3] & 0x03u;
    if (padding <= size - kHeaderSize) end_ = size - padding;
    position_ = kHeaderSize;
  }

  /// Reads an arithmetic value of `field`.
  template <typename T>
  T read(const char* field) {
    static_assert(std::is_arithmetic<T>::value, "CDR primitives are arithmetic");
    align(sizeof(T), field);
    need(sizeof(T), field);
    T value;
    std::memcpy(&value, data_ + position_, sizeof(T));
    position_ += sizeof(T);
    return swap_ ? byte_swapped(value) : value;
  }

  /// Reads `count` arithmetic values of `field` into `values`.
  template <typename T>
  void read_array(const char* field, T* values, size_t count) {
    if (count == 0) return;
    align(sizeof(T), field);
    need(sizeof(T) * count, field);
    std::memcpy(values, data_ + position_, sizeof(T) * count);
    position_ += sizeof(T) * count;
    if (swap_) {
      for (size_t i = 0; i < count; ++i) values[i] = byte_swapped(values[i]);
    }
  }

  /// Reads a sequence length of `field`, checked against `bound` and against the bytes left
  /// (each element takes at least `min_element_size` bytes).
  size_t read_length(const char* field, size_t bound, size_t min_element_size) {
    const size_t length = read<uint32_t>(field);
    if (length > bound) {
      fail(field, "has " + std::to_string(length) + " elements, more than its bound of " +
                      std::to_string(bound));
    }
    if (length > (end_ - position_) / (min_element_size == 0 ? 1 : min_element_size)) {
      fail(field, "claims " + std::to_string(length) + " elements but the sample ends first");
    }
    return length;
  }

  /// Reads a string of `field` (at most `bound` characters) into `text`.
  template <typename StringT>
  void read_string(const char* field, size_t bound, StringT& text) {
    const size_t length = read<uint32_t>(field);
    if (length == 0) fail(field, "is a string without its terminating NUL");
    need(length, field);
    if (data_[position_ + length - 1] != 0) fail(field, "is a string without its terminating NUL");
    if (length - 1 > bound) {
      fail(field, "is a string of " + std::to_string(length - 1) +
                      " characters, more than its bound of " + std::to_string(bound));
    }
    text.assign(reinterpret_cast<const char*>(data_ + position_), length - 1);
    position_ += length;
  }

  /// Throws CdrError naming `field` and `problem`.
  [[noreturn]] void fail(const char* field, const std::string& problem) const {
    throw CdrError("field '" + std::string(field) + "' " + problem);
  }

 private:
  void align(size_t alignment, const char* field) {
    const size_t offset = position_ - kHeaderSize;
    const size_t padding = (alignment - offset % alignment) % alignment;
    need(padding, field);
    position_ += padding;
  }
  void need(size_t size, const char* field) const {
    if (size > end_ - position_) fail(field, "runs past the end of the sample");
  }
  template <typename T>
  static T byte_swapped(T value) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }
  static std::string hex(uint8_t byte) {
    const char* digits = "0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 0x0f]};
  }

  static constexpr size_t kHeaderSize = 4;
  const uint8_t* data_;
  size_t end_;
  size_t position_ = 0;
  bool swap_ = false;
};

}  // namespace rosidl_typesupport_velmora
