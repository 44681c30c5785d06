#include "platform/procstatus/ProcessStatus.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string_view>

namespace platform {

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

std::string ExecutableOfLink(const std::string& link) {
  char buf[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
  std::string path(buf, static_cast<std::size_t>(n));
  // An executable replaced or removed since the start still names its old path; a file
  // that really carries the mark in its name is the one the link leads to.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted) && !SameFile(path, link))
    path.resize(path.size() - kDeleted.size());
  return path;
}

std::string ProcessImagePath(std::uint32_t pid) {
  return ExecutableOfLink("/proc/" + std::to_string(pid) + "/exe");
}

}  // namespace platform
