// Checked integer arithmetic: overflow and out-of-range narrowing raise instead of wrapping.
#pragma once
#include <concepts>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

class EIntOverflow : public std::runtime_error {
 public:
  EIntOverflow() : std::runtime_error("Integer overflow") {}
};

class ERangeError : public std::runtime_error {
 public:
  ERangeError() : std::runtime_error("Range check error") {}
};

[[noreturn]] void RaiseOverflow();
[[noreturn]] void RaiseRange();

template <std::integral T>
T CheckedAdd(T a, T b) {
  T r;
  if (__builtin_add_overflow(a, b, &r)) RaiseOverflow();
  return r;
}

template <std::integral T>
T CheckedSub(T a, T b) {
  T r;
  if (__builtin_sub_overflow(a, b, &r)) RaiseOverflow();
  return r;
}

template <std::integral T>
T CheckedMul(T a, T b) {
  T r;
  if (__builtin_mul_overflow(a, b, &r)) RaiseOverflow();
  return r;
}

// Narrowing (or sign change) that must keep the value.
template <std::integral To, std::integral From>
To CheckedCast(From v) {
  if (!std::in_range<To>(v)) RaiseRange();
  return static_cast<To>(v);
}

// Index access that must stay inside [0, size).
template <std::integral I>
std::size_t CheckedIndex(I index, std::size_t size) {
  if (!std::in_range<std::size_t>(index) || static_cast<std::size_t>(index) >= size) RaiseRange();
  return static_cast<std::size_t>(index);
}

}  // namespace platform
