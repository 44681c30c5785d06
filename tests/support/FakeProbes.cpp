#include "tests/support/FakeProbes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/paths/Paths.h"

namespace ombrix::testing {

FakeProbes::FakeProbes() {
  const std::string program = platform::ProgramDir() + "ombrix-fake-probe";
  for (const char* behaviour : {"serves", "garbage", "exits", "refuses", "silent"})
    if (symlink(program.c_str(), Path(behaviour).c_str()) != 0) ADD_FAILURE() << behaviour;
}

std::string FakeProbes::Path(const std::string& behaviour) const {
  return folder_.File("probe-" + behaviour);
}

}  // namespace ombrix::testing
