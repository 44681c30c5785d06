#include "tests/support/OtherUser.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ombrix::testing {

UserIds Nobody() {
  if (const passwd* pw = getpwnam("nobody")) return {pw->pw_uid, pw->pw_gid};
  return {65534, 65534};
}

namespace {

bool BecomeNobody() {
  const UserIds nobody = Nobody();
  return setgroups(0, nullptr) == 0 && setresgid(nobody.Gid, nobody.Gid, nobody.Gid) == 0 &&
         setresuid(nobody.Uid, nobody.Uid, nobody.Uid) == 0;
}

}  // namespace

int RunAsNobody(const std::function<int()>& body) {
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (geteuid() == 0 && !BecomeNobody()) _exit(99);
    int result = 97;
    try {
      result = body();
    } catch (...) {
    }
    _exit(result);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ombrix::testing
