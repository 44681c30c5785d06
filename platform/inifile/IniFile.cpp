#include "platform/inifile/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The name of a header line "[name]", or nothing when the line is no header.
std::optional<std::string> HeaderName(std::string_view raw) {
  const std::string line = TrimBlanks(raw);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  const std::string_view inner =
      std::string_view(line).substr(1, close == std::string::npos ? std::string::npos : close - 1);
  return TrimBlanks(inner);
}

// Splits "key=value"; a line without "=" (or a comment) has no key.
bool SplitKeyLine(std::string_view raw, std::string& key, std::string_view& value) {
  const auto eq = raw.find('=');
  if (eq == std::string_view::npos) return false;
  key = TrimBlanks(raw.substr(0, eq));
  if (key.empty() || key.front() == ';') return false;
  value = raw.substr(eq + 1);
  return true;
}

// The value without its blanks and outer quotes, not yet cut to MaxValueLength.
std::string CleanValue(std::string_view raw) {
  std::string v = TrimBlanks(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return v;
}

std::string ResolveTarget(const std::string& path) {
  // Saving through a symbolic link replaces the file it points to, not the link.
  char resolved[PATH_MAX];
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(path.c_str(), resolved))
    return resolved;
  return path;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string TrimBlanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto nl = text.find('\n', pos);
    Line line;
    if (nl == std::string_view::npos) {
      line.Raw = std::string(text.substr(pos));
      pos = text.size();
    } else {
      line.Raw = std::string(text.substr(pos, nl - pos));
      line.Ending = "\n";
      pos = nl + 1;
    }
    if (!line.Raw.empty() && line.Raw.back() == '\r') {
      line.Raw.pop_back();
      line.Ending = "\r" + line.Ending;
    }
    ini.lines_.push_back(std::move(line));
  }
  return ini;
}

IniFile IniFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return IniFile();
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return Parse(buffer.str());
}

std::optional<IniFile::Span> IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto name = HeaderName(lines_[i].Raw);
    if (!name || !EqualsIgnoreCase(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && !HeaderName(lines_[end].Raw)) ++end;
    return Span{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> IniFile::FindKey(const Span& span, std::string_view key) const {
  std::string name;
  std::string_view value;
  for (std::size_t i = span.Header + 1; i < span.End; ++i)
    if (SplitKeyLine(lines_[i].Raw, name, value) && EqualsIgnoreCase(name, key)) return i;
  return std::nullopt;
}

std::optional<std::string> IniFile::Read(std::string_view section, std::string_view key) const {
  auto v = ReadWhole(section, key);
  if (v && v->size() > MaxValueLength) v->resize(MaxValueLength);
  return v;
}

bool IniFile::IsCut(std::string_view section, std::string_view key) const {
  const auto v = ReadWhole(section, key);
  return v && v->size() > MaxValueLength;
}

std::optional<std::string> IniFile::ReadWhole(std::string_view section,
                                              std::string_view key) const {
  const auto span = FindSection(section);
  if (!span) return std::nullopt;
  const auto at = FindKey(*span, key);
  if (!at) return std::nullopt;
  std::string name;
  std::string_view value;
  SplitKeyLine(lines_[*at].Raw, name, value);
  return CleanValue(value);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  auto v = Read(section, key);
  return v ? *v : std::string(fallback);
}

bool IniFile::HasSection(std::string_view section) const {
  return FindSection(section).has_value();
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  const auto span = FindSection(section);
  if (!span) return keys;
  std::string name;
  std::string_view value;
  for (std::size_t i = span->Header + 1; i < span->End; ++i) {
    if (!SplitKeyLine(lines_[i].Raw, name, value)) continue;
    bool seen = false;
    for (const auto& k : keys) seen = seen || EqualsIgnoreCase(k, name);
    if (!seen) keys.push_back(name);
  }
  return keys;
}

std::string IniFile::NewLineEnding() const {
  for (const auto& l : lines_)
    if (!l.Ending.empty()) return l.Ending;
  return "\n";
}

void IniFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  const std::string text = std::string(key) + "=" + std::string(value);
  const std::string ending = NewLineEnding();
  if (!lines_.empty() && lines_.back().Ending.empty()) lines_.back().Ending = ending;
  const auto span = FindSection(section);
  if (!span) {
    lines_.push_back({"[" + std::string(section) + "]", ending});
    lines_.push_back({text, ending});
    return;
  }
  if (const auto at = FindKey(*span, key)) {
    lines_[*at].Raw = text;
    return;
  }
  // After the section's last non-blank line, so blank separators stay between sections.
  std::size_t insert = span->End;
  while (insert > span->Header + 1 && TrimBlanks(lines_[insert - 1].Raw).empty()) --insert;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), Line{text, ending});
}

void IniFile::EraseSection(std::string_view section) {
  while (const auto span = FindSection(section))
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(span->Header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(span->End));
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto& l : lines_) out += l.Raw + l.Ending;
  return out;
}

void IniFile::Save(const std::string& path) const {
  const std::string target = ResolveTarget(path);
  std::string temp = target + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw IniWriteError(target + ": " + std::strerror(errno));
  struct stat st {};
  if (stat(target.c_str(), &st) == 0)
    fchmod(fd, st.st_mode & 07777);
  else
    fchmod(fd, 0644);
  const bool ok = WriteAll(fd, Text()) && fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0 || !ok || rename(temp.c_str(), target.c_str()) != 0) {
    const int err = ok ? errno : saved;
    unlink(temp.c_str());
    throw IniWriteError(target + ": " + std::strerror(err));
  }
}

}  // namespace platform
