// Who sees what: root and the group see everything, anyone else only their own processes, and
// a /proc that hides other users' processes hides them from the group too unless /proc's own
// gid= lets that group see them.
#include "probe/Access.h"

#include <gtest/gtest.h>

namespace {

using namespace ombrix::probe;
using platform::probe::ViewScope;

TEST(ProbeAccess, ScopeFollowsUidGroupAndTheProcMount) {
  struct Case {
    const char* what;
    CallerFacts caller;
    ViewScope scope;
  };
  const Case cases[] = {
      {"root", {0, {0}, std::nullopt, "rw,hidepid=invisible"}, ViewScope::Everything},
      {"a user", {1000, {1000, 27}, 990, "rw"}, ViewScope::OwnProcesses},
      {"no such group", {1000, {1000}, std::nullopt, "rw"}, ViewScope::OwnProcesses},
      {"in the group", {1000, {1000, 990}, 990, "rw,relatime"}, ViewScope::Everything},
      {"group as primary gid", {1000, {990}, 990, "rw"}, ViewScope::Everything},
      {"hidepid=0 hides nothing", {1000, {990}, 990, "rw,hidepid=0"}, ViewScope::Everything},
      {"hidepid=2", {1000, {990}, 990, "rw,hidepid=2"}, ViewScope::OwnProcesses},
      {"hidepid=invisible", {1000, {990}, 990, "rw,hidepid=invisible"}, ViewScope::OwnProcesses},
      {"gid= of another group", {1000, {990}, 990, "rw,hidepid=2,gid=4"}, ViewScope::OwnProcesses},
      {"gid= of a group it is in",
       {1000, {990, 4}, 990, "rw,gid=4,hidepid=ptraceable"},
       ViewScope::Everything},
      {"gid= not a number", {1000, {990, 4}, 990, "rw,hidepid=2,gid=x4"}, ViewScope::OwnProcesses},
  };
  for (const Case& c : cases) EXPECT_EQ(ScopeOf(c.caller), c.scope) << c.what;
}

TEST(ProbeAccess, ProcOptionsComeFromTheLastProcMountOnProc) {
  const std::string mountinfo =
      "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
      "23 22 0:22 / /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw\n"
      "24 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "25 22 0:23 / /proc rw - proc proc rw,hidepid=invisible,gid=4\n"
      "26 1 0:24 / /proc2 rw - proc proc rw,hidepid=2\n"
      "27 1 0:25 / /proc rw shared:5 - tmpfs tmpfs rw,hidepid=7\n"
      "garbage\n";
  EXPECT_EQ(ProcMountOptions(mountinfo), "rw,hidepid=invisible,gid=4");
  EXPECT_EQ(ProcMountOptions(""), "");
}

}  // namespace
