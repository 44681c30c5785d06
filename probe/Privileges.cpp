#include "probe/Privileges.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ombrix::probe {
namespace {

// The raw calls: the probe links nothing but the BPF library and the standard library.
bool GetCaps(__user_cap_data_struct (&data)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capget, &header, data) == 0;
}

bool SetNoCaps() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[2]{};
  return syscall(SYS_capset, &header, none) == 0;
}

bool Effective(int cap) {
  __user_cap_data_struct data[2]{};
  return GetCaps(data) && (data[cap / 32].effective & (1u << (cap % 32))) != 0;
}

// Lowering the bounding set needs CAP_SETPCAP, which a probe started by a user with only its
// file capabilities lacks; no_new_privs then keeps an exec from gaining anything all the same.
bool DropBoundingSet() {
  if (!Effective(CAP_SETPCAP)) return true;
  for (int cap = 0; prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
    if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return false;
  return true;
}

bool Fail(std::string& error, const char* step) {
  error = std::string(step) + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool DropPrivileges(std::string& error) {
  if (!DropBoundingSet()) return Fail(error, "bounding set");
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
    return Fail(error, "ambient set");
  if (!SetNoCaps()) return Fail(error, "capability sets");
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Fail(error, "no_new_privs");
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return Fail(error, "dumpable");
  if (!HoldsNoCapability()) {
    error = "capabilities still held after dropping them";
    return false;
  }
  return true;
}

bool HoldsNoCapability() {
  __user_cap_data_struct data[2]{};
  if (!GetCaps(data)) return false;
  for (const auto& half : data)
    if (half.effective != 0 || half.permitted != 0 || half.inheritable != 0) return false;
  return true;
}

}  // namespace ombrix::probe
