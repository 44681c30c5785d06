#include "platform/filelock/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>

namespace platform {

FileLock::FileLock(const std::string& path) {
  fd_.Reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd_) {
    error_ = std::strerror(errno);
    return;
  }
  // flock, not fcntl: a database's own fcntl byte locks on the file stay independent of it,
  // and closing this handle cannot release them.
  if (flock(fd_.Get(), LOCK_EX | LOCK_NB) == 0) {
    result_ = LockResult::Held;
    return;
  }
  const int error = errno;
  result_ = error == EWOULDBLOCK ? LockResult::HeldByOther : LockResult::Failed;
  error_ = std::strerror(error);
  fd_.Reset();
}

}  // namespace platform
