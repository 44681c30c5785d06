// Started by the path tests from a copy of itself, by its full path: changes its own file
// as the first argument says, then prints the program path it finds, its settings file and
// its trace file, one a line.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/paths/Paths.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string self = argv[0];
  const std::string change = argv[1];
  if (change == "remove") {
    if (unlink(self.c_str()) != 0) return 3;
  } else if (change == "ask-then-move") {
    platform::ProgramPath();  // the start-up call
    if (rename(self.c_str(), (self + "-moved").c_str()) != 0) return 3;
  } else if (change == "replace") {
    // As an upgrade does it: a new file renamed over the running one.
    std::error_code ec;
    std::filesystem::copy_file(self, self + ".new", ec);
    if (ec || rename((self + ".new").c_str(), self.c_str()) != 0) return 3;
  }
  std::printf("%s\n%s\n%s\n", platform::ProgramPath().c_str(),
              platform::SettingsFile().Save.c_str(), platform::ProgramFile("trace.txt").c_str());
  return 0;
}
