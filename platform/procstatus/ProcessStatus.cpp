#include "platform/procstatus/ProcessStatus.h"

#include <unistd.h>

#include <climits>
#include <string_view>

namespace platform {

std::string ProcessImagePath(std::uint32_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char buf[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<std::size_t>(n));
  // An executable replaced or removed since the start still names its old path.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted))
    path.resize(path.size() - kDeleted.size());
  return path;
}

}  // namespace platform
