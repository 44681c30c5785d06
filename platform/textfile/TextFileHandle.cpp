#include "platform/textfile/TextFileHandle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

os::Fd OpenForAppend(const std::string& path) {
  os::Fd file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  // The exclusive lock keeps a second writer (say, a second monitor) out while readers
  // may still look at the file.
  if (file && flock(file.Get(), LOCK_EX | LOCK_NB) != 0) file.Reset();
  return file;
}

bool CreateEmpty(const std::string& path) {
  const os::Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  // Only truncate a file no other writer holds.
  return file && flock(file.Get(), LOCK_EX | LOCK_NB) == 0 && ftruncate(file.Get(), 0) == 0;
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

}  // namespace platform
