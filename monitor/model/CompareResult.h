// The result of every ordering operation of the statistics model.
#pragma once

namespace ombrix {

enum CompareResult : int {
  crEqual = 0,    // both sides are equal
  crLess = 1,     // the left side is less
  crGreater = 2,  // the left side is greater
};

template <typename T>
CompareResult CompareValues(const T& a, const T& b) {
  if (a < b) return crLess;
  if (b < a) return crGreater;
  return crEqual;
}

}  // namespace ombrix
