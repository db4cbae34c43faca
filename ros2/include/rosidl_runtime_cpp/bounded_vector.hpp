#pragma once

/// A sequence with a fixed upper bound on its length: the container of bounded message fields.
///
/// It behaves like `std::vector` except that every operation that would make it longer than
/// `UpperBound` throws `std::length_error("Exceeded upper bound")` and leaves it unchanged.

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace rosidl_runtime_cpp {

/// A `std::vector` that never holds more than `UpperBound` elements.
template <typename Tp, std::size_t UpperBound, typename Alloc = std::allocator<Tp>>
class BoundedVector : protected std::vector<Tp, Alloc> {
  using Base = std::vector<Tp, Alloc>;

 public:
  using typename Base::allocator_type;
  using typename Base::const_iterator;
  using typename Base::const_pointer;
  using typename Base::const_reference;
  using typename Base::const_reverse_iterator;
  using typename Base::difference_type;
  using typename Base::iterator;
  using typename Base::pointer;
  using typename Base::reference;
  using typename Base::reverse_iterator;
  using typename Base::size_type;
  using typename Base::value_type;

  BoundedVector() noexcept(noexcept(Alloc())) = default;
  explicit BoundedVector(const allocator_type& a) noexcept : Base(a) {}
  /// `n` value-initialised elements; throws if `n` exceeds the bound.
  explicit BoundedVector(size_type n, const allocator_type& a = allocator_type())
      : Base(checked(n), a) {}
  /// `n` copies of `value`; throws if `n` exceeds the bound.
  BoundedVector(size_type n, const value_type& value, const allocator_type& a = allocator_type())
      : Base(checked(n), value, a) {}
  BoundedVector(std::initializer_list<value_type> l, const allocator_type& a = allocator_type())
      : Base((checked(l.size()), l), a) {}
  /// The elements of [first, last); throws if there are more than the bound.
  template <typename InputIt, typename = typename std::iterator_traits<InputIt>::iterator_category>
  BoundedVector(InputIt first, InputIt last, const allocator_type& a = allocator_type())
      : Base(first, last, a) {
    if (Base::size() > UpperBound) throw std::length_error("Exceeded upper bound");
  }

  BoundedVector& operator=(std::initializer_list<value_type> l) {
    checked(l.size());
    Base::operator=(l);
    return *this;
  }

  void assign(size_type n, const value_type& value) { Base::assign(checked(n), value); }
  template <typename InputIt, typename = typename std::iterator_traits<InputIt>::iterator_category>
  void assign(InputIt first, InputIt last) {
    BoundedVector tmp(first, last, get_allocator());
    swap(tmp);
  }
  void assign(std::initializer_list<value_type> l) { Base::assign((checked(l.size()), l)); }

  using Base::get_allocator;

  using Base::begin;
  using Base::cbegin;
  using Base::cend;
  using Base::crbegin;
  using Base::crend;
  using Base::end;
  using Base::rbegin;
  using Base::rend;

  using Base::capacity;
  using Base::empty;
  using Base::size;
  /// The bound, or less if the allocator cannot provide it.
  size_type max_size() const noexcept { return std::min<size_type>(UpperBound, Base::max_size()); }
  void resize(size_type n) { Base::resize(checked(n)); }
  void resize(size_type n, const value_type& value) { Base::resize(checked(n), value); }
  void reserve(size_type n) { Base::reserve(checked(n)); }
  using Base::shrink_to_fit;

  using Base::operator[];
  using Base::at;
  using Base::back;
  using Base::data;
  using Base::front;

  void push_back(const value_type& x) {
    checked(size() + 1);
    Base::push_back(x);
  }
  void push_back(value_type&& x) {
    checked(size() + 1);
    Base::push_back(std::move(x));
  }
  template <typename... Args>
  void emplace_back(Args&&... args) {
    checked(size() + 1);
    Base::emplace_back(std::forward<Args>(args)...);
  }
  template <typename... Args>
  iterator emplace(const_iterator position, Args&&... args) {
    checked(size() + 1);
    return Base::emplace(position, std::forward<Args>(args)...);
  }
  iterator insert(const_iterator position, const value_type& x) {
    checked(size() + 1);
    return Base::insert(position, x);
  }
  iterator insert(const_iterator position, value_type&& x) {
    checked(size() + 1);
    return Base::insert(position, std::move(x));
  }
  iterator insert(const_iterator position, size_type n, const value_type& x) {
    checked(size() + n);
    return Base::insert(position, n, x);
  }
  iterator insert(const_iterator position, std::initializer_list<value_type> l) {
    checked(size() + l.size());
    return Base::insert(position, l);
  }
  template <typename InputIt, typename = typename std::iterator_traits<InputIt>::iterator_category>
  iterator insert(const_iterator position, InputIt first, InputIt last) {
    const Base items(first, last);  // a single pass, so input iterators work too
    checked(size() + items.size());
    return Base::insert(position, items.begin(), items.end());
  }

  using Base::clear;
  using Base::erase;
  using Base::pop_back;
  void swap(BoundedVector& other) noexcept { Base::swap(other); }

  friend bool operator==(const BoundedVector& x, const BoundedVector& y) {
    return static_cast<const Base&>(x) == static_cast<const Base&>(y);
  }
  friend bool operator!=(const BoundedVector& x, const BoundedVector& y) { return !(x == y); }
  friend bool operator<(const BoundedVector& x, const BoundedVector& y) {
    return static_cast<const Base&>(x) < static_cast<const Base&>(y);
  }
  friend bool operator>(const BoundedVector& x, const BoundedVector& y) { return y < x; }
  friend bool operator<=(const BoundedVector& x, const BoundedVector& y) { return !(y < x); }
  friend bool operator>=(const BoundedVector& x, const BoundedVector& y) { return !(x < y); }

 private:
  static size_type checked(size_type n) {
    if (n > UpperBound) throw std::length_error("Exceeded upper bound");
    return n;
  }
};

template <typename Tp, std::size_t UpperBound, typename Alloc>
void swap(BoundedVector<Tp, UpperBound, Alloc>& x,
          BoundedVector<Tp, UpperBound, Alloc>& y) noexcept {
  x.swap(y);
}

}  // namespace rosidl_runtime_cpp
