#include "tests/support/SmallDisk.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace ombrix::testing {

SmallDisk::SmallDisk(std::size_t bytes) {
  std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-disk-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    reason_ = std::string("mkdtemp: ") + std::strerror(errno);
    return;
  }
  path_ = pattern;
  if (geteuid() != 0) {
    reason_ = "mounting a small file system needs root";
    return;
  }
  // The mount stays inside this process's own namespace, and leaves with it at the latest.
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    reason_ = std::string("no private mount namespace: ") + std::strerror(errno);
    return;
  }
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
  if (mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    reason_ = std::string("mount tmpfs: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  if (!path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

}  // namespace ombrix::testing
