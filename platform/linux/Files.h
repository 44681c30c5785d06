// Whole files and symbolic links, read the one way every reader of /proc, /sys and small
// files here uses.
#pragma once
#include <fcntl.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform::os {

// Reads fd from where it stands to its end into buffer, which grows as needed and never
// shrinks; the number of bytes read, nothing on a read error.
std::optional<std::size_t> ReadToEnd(int fd, std::string& buffer);

// Reads whole files into one buffer that it keeps from file to file, so that reading
// thousands of small files costs no allocation each.
class FileReader {
 public:
  FileReader();
  // The file's text, valid until the next read; empty when it cannot be opened or read.
  std::string_view Read(const char* path) { return ReadAt(AT_FDCWD, path); }
  // The same relative to an open directory (saves the lookup of that directory).
  std::string_view ReadAt(int dirFd, const char* path);
  // Whether the last read succeeded (an empty file is read successfully).
  bool Ok() const { return ok_; }

 private:
  std::string buffer_;
  bool ok_ = false;
};

// The whole file; nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// The target of a symbolic link (relative to dirFd); empty when there is none or it is
// longer than a path may be.
std::string ReadLinkAt(int dirFd, const char* path);
inline std::string ReadLink(const std::string& path) {
  return ReadLinkAt(AT_FDCWD, path.c_str());
}

}  // namespace platform::os
