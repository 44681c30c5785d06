// Part of a test run in a forked child: what it changes (the user it runs as, the capabilities
// it drops, memory) stays there. The child reports through a pipe what went wrong, nothing when
// all went well. Tests run as root in CI, where permission bits stop nothing, so a fault that
// only a normal user meets is looked for as nobody.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>

#include "platform/linux/Handle.h"

namespace ombrix::testing {

struct UserIds {
  uid_t Uid;
  gid_t Gid;
};

// The unprivileged account "nobody" (65534 when the system has none by that name).
UserIds Nobody();

// Gives the folder tree to nobody, so that a child running as nobody can change it.
void HandOverToNobody(const std::string& tree);

enum class ChildUser {
  Same,    // the test's own user
  Nobody,  // nobody when the test runs as root, else the test's own user
};

// A child started by StartChild; Finish waits for it and tells what it reported.
struct Child {
  pid_t Pid = -1;
  platform::os::Fd Report;
};

// body returns what went wrong, empty when all went well; what it raises is reported too.
Child StartChild(const std::function<std::string()>& body, ChildUser user = ChildUser::Same);
// The child's report; when it said nothing but did not exit cleanly, how it ended.
std::string Finish(Child child);
std::string InChild(const std::function<std::string()>& body, ChildUser user = ChildUser::Same);

}  // namespace ombrix::testing
