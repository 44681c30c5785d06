// Running part of a test as another user, for what depends on who owns a file.
#pragma once
#include <sys/types.h>

#include <functional>

namespace ombrix::testing {

struct UserIds {
  uid_t Uid;
  gid_t Gid;
};

// The unprivileged account "nobody" (65534 when the system has none by that name).
UserIds Nobody();

// Runs body in a child process, as nobody when the test runs as root and as the test's own
// user otherwise, and returns the child's exit status: body's result, 97 when it raised,
// 99 when the user could not be changed, -1 when the child did not exit.
int RunAsNobody(const std::function<int()>& body);

}  // namespace ombrix::testing
