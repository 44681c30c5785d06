#include "platform/kernelevents/ProcessNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>

#include "platform/procstatus/ProcessStatus.h"

namespace platform {
namespace {

constexpr std::size_t kCommLimit = 15;  // the kernel keeps at most 15 bytes of comm

bool NextNumber(std::string_view& rest, std::uint64_t& value) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (ec != std::errc() || (end != rest.data() + rest.size() && *end != ' ')) return false;
  rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
  return true;
}

bool SkipField(std::string_view& rest) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty()) return false;
  const std::size_t end = rest.find(' ');
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  return true;
}

}  // namespace

std::optional<TProcStat> ParseProcStat(std::string_view text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  TProcStat stat;
  stat.Comm = std::string(text.substr(open + 1, close - open - 1));
  std::string_view rest = text.substr(close + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty()) return std::nullopt;
  stat.State = rest.front();
  rest.remove_prefix(1);
  // Fields 4 (ppid) to 22 (starttime); 9 is flags.
  std::uint64_t value = 0;
  for (int field = 4; field <= 22; ++field) {
    if (field == 4 || field == 9 || field == 22) {
      if (!NextNumber(rest, value)) return std::nullopt;
      if (field == 4) stat.ParentId = static_cast<std::uint32_t>(value);
      if (field == 9) stat.Flags = value;
      if (field == 22) stat.StartTime = value;
    } else if (!SkipField(rest)) {
      return std::nullopt;
    }
  }
  return stat;
}

std::optional<std::string> ReadProcFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return text;
}

std::optional<TProcStat> ReadProcStat(std::uint32_t pid) {
  const auto text = ReadProcFile("/proc/" + std::to_string(pid) + "/stat");
  if (!text) return std::nullopt;
  return ParseProcStat(*text);
}

std::string InstanceNameOf(const TProcStat& stat, std::string_view imagePath) {
  if (stat.Comm.size() != kCommLimit) return stat.Comm;
  const std::size_t slash = imagePath.rfind('/');
  const std::string_view base =
      slash == std::string_view::npos ? imagePath : imagePath.substr(slash + 1);
  return base.starts_with(stat.Comm) ? std::string(base) : stat.Comm;
}

std::optional<std::uint32_t> ProcessUid(std::uint32_t pid) {
  struct stat info {};
  if (stat(("/proc/" + std::to_string(pid)).c_str(), &info) != 0) return std::nullopt;
  return info.st_uid;
}

}  // namespace platform
