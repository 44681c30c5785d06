#include "platform/linux/Handle.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::os {

void Fd::Reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

int Fd::Close() {
  if (fd_ < 0) return 0;
  // Linux frees the descriptor even when close fails: it must never be closed again.
  return ::close(Release()) == 0 ? 0 : errno;
}

Pipe OpenPipe(int flags) {
  int ends[2] = {-1, -1};
  if (pipe2(ends, flags) != 0) return {};
  return {Fd(ends[0]), Fd(ends[1])};
}

DirStream::DirStream(const std::string& path) : dir_(opendir(path.c_str())) {}

DirStream::DirStream(Fd directory) {
  if (!directory) return;
  dir_ = fdopendir(directory.Get());
  if (dir_ != nullptr) directory.Release();  // the stream owns it now
}

DirStream& DirStream::operator=(DirStream&& other) noexcept {
  if (this != &other) {
    if (dir_ != nullptr) closedir(dir_);
    dir_ = std::exchange(other.dir_, nullptr);
  }
  return *this;
}

DirStream::~DirStream() {
  if (dir_ != nullptr) closedir(dir_);
}

DirStream DirStream::At(int dirFd, const char* path) {
  return DirStream(Fd(openat(dirFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
}

const dirent* DirStream::Next() {
  if (dir_ == nullptr) return nullptr;
  while (const dirent* entry = readdir(dir_)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) return entry;
  }
  return nullptr;
}

void CloseDescriptorsFrom(int first) {
  // Kernels before 5.9 lack close_range: the usual limit of open descriptors is gone through.
  if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, 0u) == 0) return;
  for (int fd = first; fd < 1024; ++fd) ::close(fd);
}

Fd MoveToQuietRange(Fd fd) {
  if (!fd || fd.Get() >= kQuietDescriptors) return fd;
  const int high = fcntl(fd.Get(), F_DUPFD_CLOEXEC, kQuietDescriptors);
  return high >= 0 ? Fd(high) : std::move(fd);
}

}  // namespace platform::os
