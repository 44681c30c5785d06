#include "tests/support/NormalUser.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace ombrix::testing {

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

void HandOver(const std::string& tree) {
  lchown(tree.c_str(), kNobody, kNoGroup);
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree, ec))
    lchown(entry.path().c_str(), kNobody, kNoGroup);
}

}  // namespace

bool AsNormalUser(const std::string& tree, const std::function<bool()>& body) {
  const bool root = geteuid() == 0;
  if (root) HandOver(tree);
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (root && (setgroups(0, nullptr) != 0 || setgid(kNoGroup) != 0 || setuid(kNobody) != 0))
      _exit(2);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace ombrix::testing
