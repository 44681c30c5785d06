#include "platform/perfdata/LinuxProcfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>

namespace platform::procfs {

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

}  // namespace platform::procfs
