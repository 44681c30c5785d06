#include "platform/installer/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool ClearReadOnly(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & S_IWUSR) != 0) return true;
  return chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool CanOpenExclusive(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);  // also releases the lock
  return free;
}

bool DeleteRegularFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return unlink(path.c_str()) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool RemoveEmptyFolder(const std::string& path) {
  return !path.empty() && rmdir(path.c_str()) == 0;
}

bool DeleteAtRestart(const std::string& path) {
  struct stat st {};
  if (path.empty()) return false;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;  // nothing left to remove
  if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
  if (rmdir(path.c_str()) == 0) return true;
  // Not empty: like a restart, leave it; refused for want of rights: say so.
  return errno == ENOTEMPTY || errno == EEXIST;
}

}  // namespace platform
