// Runs a step of a test as a normal user. The tests run as root in CI, where permission
// bits do not stop anything; a fault that only a normal user meets needs this.
#pragma once
#include <functional>
#include <string>

namespace ombrix::testing {

// Runs body in a child process, as the user nobody when this is root (the folder tree is
// handed to nobody first), else as this user. True when body returned true; what body
// changes in memory stays in the child.
bool AsNormalUser(const std::string& tree, const std::function<bool()>& body);

}  // namespace ombrix::testing
