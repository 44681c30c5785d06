#include "platform/textfile/TextFileHandle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int OpenForAppend(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return -1;
  // The exclusive lock keeps a second writer (say, a second monitor) out while readers
  // may still look at the file.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool CreateEmpty(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // Only truncate a file no other writer holds.
  const bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && ftruncate(fd, 0) == 0;
  ::close(fd);
  return ok;
}

bool WriteBytes(int handle, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(handle, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void FlushToDisk(int handle) {
  fsync(handle);
}

void CloseFile(int handle) {
  ::close(handle);
}

}  // namespace platform
