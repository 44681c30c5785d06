// Who the caller is, and so what it may see: root and the members of the group "ombrix" see
// every process's events, anyone else those of the processes whose real uid is its own. Where
// /proc hides other users' processes (hidepid), a group member sees them only when /proc's own
// gid= option lets that group see them.
#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernelevents/ProbeStream.h"

namespace ombrix::probe {

struct CallerFacts {
  uid_t Uid = 0;               // real uid: the user who started the probe
  std::vector<gid_t> Groups;   // real gid and supplementary groups
  std::optional<gid_t> Group;  // the group "ombrix", when it exists
  std::string ProcOptions;     // the super options of the /proc mount, e.g. "rw,hidepid=2,gid=5"
};

platform::probe::ViewScope ScopeOf(const CallerFacts& caller);
// Whether /proc hides other users' processes from this caller (hidepid without a gid= of its).
bool ProcHidesOthers(const CallerFacts& caller);

// The /proc mount's super options in a mountinfo text; empty when /proc is not listed.
std::string ProcMountOptions(std::string_view mountinfo);

// The facts of this process.
CallerFacts RunningCaller();

}  // namespace ombrix::probe
