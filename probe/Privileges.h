// The probe's privileges: what it needs to load its kernel programs, and giving all of it up
// before it reads a word from its caller.
#pragma once
#include <string>

namespace ombrix::probe {

// Gives up every capability (effective, permitted, inheritable, ambient; the bounding set too
// where the process may change it), forbids gaining any by exec, and makes the process not
// dumpable. False, with the reason, when any step fails: the probe must not serve then.
bool DropPrivileges(std::string& error);

// Whether the effective and permitted sets are empty.
bool HoldsNoCapability();

}  // namespace ombrix::probe
