#include "platform/linux/Files.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/linux/Handle.h"

namespace platform::os {

std::optional<std::size_t> ReadToEnd(int fd, std::string& buffer) {
  if (buffer.empty()) buffer.resize(4096);
  std::size_t used = 0;
  for (;;) {
    if (used == buffer.size()) buffer.resize(buffer.size() * 2);
    const ssize_t n = ::read(fd, buffer.data() + used, buffer.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return used;
    used += static_cast<std::size_t>(n);
  }
}

FileReader::FileReader() {
  buffer_.resize(16384);
}

std::string_view FileReader::ReadAt(int dirFd, const char* path) {
  ok_ = false;
  const Fd file(openat(dirFd, path, O_RDONLY | O_CLOEXEC));
  if (!file) return {};
  const auto used = ReadToEnd(file.Get(), buffer_);
  if (!used) return {};
  ok_ = true;
  return {buffer_.data(), *used};
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return std::nullopt;
  std::string text;
  const auto used = ReadToEnd(file.Get(), text);
  if (!used) return std::nullopt;
  text.resize(*used);
  return text;
}

std::string ReadLinkAt(int dirFd, const char* path) {
  char target[PATH_MAX];
  const ssize_t n = readlinkat(dirFd, path, target, sizeof target);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return {};
  return {target, static_cast<std::size_t>(n)};
}

}  // namespace platform::os
