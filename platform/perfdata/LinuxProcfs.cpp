#include "platform/perfdata/LinuxProcfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace platform::procfs {

namespace {

std::string_view TakeLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

std::string_view TakeToken(std::string_view& s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  const std::size_t end = std::min(s.find(' '), s.size());
  const std::string_view token = s.substr(0, end);
  s.remove_prefix(end);
  return token;
}

bool ParseWhole(std::string_view text, std::uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "MAJ:MIN", as mountinfo and the dev files of /sys write a device.
bool ParseDevice(std::string_view text, std::uint32_t& major, std::uint32_t& minor) {
  const std::size_t colon = text.find(':');
  return colon != std::string_view::npos && ParseWhole(text.substr(0, colon), major) &&
         ParseWhole(text.substr(colon + 1), minor);
}

// The kernel's name of a device node (/dev/vdb2 -> vdb2) looked up in /sys/class/block.
bool DeviceOfKernelName(std::string_view source, int sysFd, std::uint32_t& major,
                        std::uint32_t& minor) {
  const std::string_view name = source.substr(source.rfind('/') + 1);
  if (name.empty() || name == "." || name == "..") return false;
  const std::string path = "class/block/" + std::string(name) + "/dev";
  FileReader file;
  std::string_view text = file.ReadAt(sysFd, path.c_str());
  return ParseDevice(TakeLine(text), major, minor);
}

}  // namespace

FileReader::FileReader() {
  buf_.resize(16384);
}

std::string_view FileReader::Read(const char* path) {
  return ReadAt(AT_FDCWD, path);
}

std::string_view FileReader::ReadAt(int dirFd, const char* path) {
  ok_ = false;
  const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::size_t used = 0;
  for (;;) {
    if (used == buf_.size()) buf_.resize(buf_.size() * 2);
    const ssize_t n = ::read(fd, buf_.data() + used, buf_.size() - used);
    if (n < 0) {
      ::close(fd);
      return {};
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  ok_ = true;
  return {buf_.data(), used};
}

std::uint64_t NextNumber(std::string_view& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  std::uint64_t v = 0;
  const auto r = std::from_chars(s.data() + i, s.data() + s.size(), v);
  if (r.ec != std::errc{}) {
    // Skip the token that is not a number so that callers keep their field count.
    while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\n') ++i;
    s.remove_prefix(i);
    return 0;
  }
  s.remove_prefix(static_cast<std::size_t>(r.ptr - s.data()));
  return v;
}

std::uint64_t KeyedValue(std::string_view text, std::string_view key) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (line.size() > key.size() && line.starts_with(key) &&
        (line[key.size()] == ':' || line[key.size()] == ' ' || line[key.size()] == '\t')) {
      line.remove_prefix(key.size() + (line[key.size()] == ':' ? 1 : 0));
      return NextNumber(line);
    }
    pos = end + 1;
  }
  return 0;
}

ProcStat ParseProcStat(std::string_view text) {
  ProcStat st;
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return st;
  st.Comm = text.substr(open + 1, close - open - 1);
  std::string_view rest = text.substr(close + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.empty()) return st;
  st.State = rest.front();
  rest.remove_prefix(1);
  // Fields 4 to 22 follow the state (field 3).
  std::uint64_t f[23] = {};
  for (int i = 4; i <= 22; ++i) {
    // Fields 4 to 8 may be negative (tty_nr, tpgid); read their magnitude, they are unused.
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '-') rest.remove_prefix(1);
    f[i] = NextNumber(rest);
  }
  st.Flags = f[9];
  st.UTime = f[14];
  st.STime = f[15];
  st.NumThreads = f[20];
  st.StartTime = f[22];
  st.Ok = true;
  return st;
}

std::string UnescapeMountPath(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  while (!text.empty()) {
    std::string_view line = TakeLine(text);
    // The optional fields end at a lone "-"; blanks inside paths are escaped.
    const std::size_t dash = line.find(" - ");
    if (dash == std::string_view::npos) continue;
    std::string_view tail = line.substr(dash + 3);
    line = line.substr(0, dash);
    MountEntry m;
    const std::string_view id = TakeToken(line);
    TakeToken(line);  // parent
    const std::string_view device = TakeToken(line);
    TakeToken(line);  // root inside the file system
    const std::string_view point = TakeToken(line);
    TakeToken(tail);  // file system type
    const std::string_view source = TakeToken(tail);
    if (!ParseWhole(id, m.MountId) || !ParseDevice(device, m.Major, m.Minor) || point.empty())
      continue;
    m.MountPoint = UnescapeMountPath(point);
    m.Source = UnescapeMountPath(source);
    mounts.push_back(std::move(m));
  }
  return mounts;
}

bool BackingBlockDevice(const MountEntry& mount, int sysFd, std::uint32_t& major,
                        std::uint32_t& minor) {
  char path[48];
  std::snprintf(path, sizeof path, "dev/block/%u:%u", mount.Major, mount.Minor);
  if (mount.Major != 0 && faccessat(sysFd, path, F_OK, 0) == 0) {
    major = mount.Major;
    minor = mount.Minor;
    return true;
  }
  if (!mount.Source.starts_with('/')) return false;
  struct stat node {};
  if (stat(mount.Source.c_str(), &node) != 0)  // no such node here: another mount namespace
    return DeviceOfKernelName(mount.Source, sysFd, major, minor);
  if (!S_ISBLK(node.st_mode)) return false;
  major = ::major(node.st_rdev);
  minor = ::minor(node.st_rdev);
  return true;
}

}  // namespace platform::procfs
