// Handles that own an operating-system resource and give it back on every path: a file
// descriptor and a directory stream. Move-only; the destructor closes. No code outside this
// file closes a descriptor by hand.
#pragma once
#include <dirent.h>

#include <string>
#include <utility>

namespace platform::os {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }
  // Hands the descriptor over to the caller, who must then close it (by another Fd).
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and takes fd in its place.
  void Reset(int fd = -1);
  // Closes now: 0, or the errno of close, which may carry a write's last error (a full disk on
  // a network file system shows only here). Closed is closed either way.
  int Close();

 private:
  int fd_ = -1;
};

// Descriptors this program keeps open on its own /proc files (one per process watched) are moved
// to this number or above, out of the range select() and other libraries count on, and the
// scans of open files skip this program's descriptors there: they are none of the user's files.
inline constexpr int kQuietDescriptors = 1024;

// Moves fd to a free number at or above kQuietDescriptors; the same Fd when there is none.
Fd MoveToQuietRange(Fd fd);

// Both ends of a pipe; invalid both when it could not be made (errno says why).
struct Pipe {
  Fd Read;
  Fd Write;
};
Pipe OpenPipe(int flags);

// Every directory entry but "." and "..", in the order the file system gives them.
class DirStream {
 public:
  DirStream() = default;
  explicit DirStream(const std::string& path);
  // Takes the open directory over; it is closed with the stream, or at once when it cannot
  // be read as one.
  explicit DirStream(Fd directory);
  DirStream(DirStream&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
  DirStream& operator=(DirStream&& other) noexcept;
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;
  ~DirStream();

  // The folder at path relative to the open directory dirFd.
  static DirStream At(int dirFd, const char* path);

  bool Valid() const { return dir_ != nullptr; }
  // The open directory's descriptor, for lookups relative to it; -1 when not open.
  int Descriptor() const { return dir_ != nullptr ? dirfd(dir_) : -1; }
  // The next entry, nullptr at the end (or when the stream is not open).
  const dirent* Next();

 private:
  DIR* dir_ = nullptr;
};

// Closes every descriptor from first up, so that a program started with stray descriptors
// keeps none of them.
void CloseDescriptorsFrom(int first);

}  // namespace platform::os
