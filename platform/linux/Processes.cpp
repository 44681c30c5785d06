#include "platform/linux/Processes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <charconv>
#include <cstring>

#include "platform/linux/Handle.h"

namespace platform::os {

std::vector<std::uint32_t> NumberedEntries(int dirFd, const char* path) {
  std::vector<std::uint32_t> numbers;
  DirStream folder = DirStream::At(dirFd, path);
  while (const dirent* entry = folder.Next()) {
    const char* name = entry->d_name;
    const char* end = name + std::strlen(name);
    std::uint32_t number = 0;
    const auto [stop, error] = std::from_chars(name, end, number);
    if (error == std::errc() && stop == end) numbers.push_back(number);
  }
  return numbers;
}

std::vector<std::uint32_t> ListPids(const std::string& procRoot) {
  return NumberedEntries(AT_FDCWD, procRoot.c_str());
}

std::optional<std::uint32_t> ProcessUid(std::uint32_t pid) {
  struct stat info {};
  if (stat(("/proc/" + std::to_string(pid)).c_str(), &info) != 0) return std::nullopt;
  return info.st_uid;
}

}  // namespace platform::os
