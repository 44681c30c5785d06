// The misbehaving probes of tests/support/fakeprobe, each under the name that chooses its
// behaviour, in a folder of their own.
#pragma once
#include <string>

#include "tests/support/TempDir.h"

namespace ombrix::testing {

class FakeProbes {
 public:
  FakeProbes();
  // "serves", "garbage", "exits", "refuses" or "silent".
  std::string Path(const std::string& behaviour) const;

 private:
  TempDir folder_;
};

}  // namespace ombrix::testing
