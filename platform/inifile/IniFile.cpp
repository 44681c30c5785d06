#include "platform/inifile/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/linux/Files.h"
#include "platform/linux/Handle.h"

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

[[noreturn]] void FailRead(const std::string& path, const std::string& reason) {
  throw IniReadError(path + ": " + reason);
}

[[noreturn]] void FailWrite(const std::string& path, const std::string& reason) {
  throw IniWriteError(path + ": " + reason);
}

bool ReadAll(int fd, std::string& out) {
  const auto used = os::ReadToEnd(fd, out);
  out.resize(used.value_or(0));
  return used.has_value();
}

// Writes data from the start of the file and cuts the file after it.
bool WriteWhole(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ftruncate(fd, static_cast<off_t>(data.size())) == 0;
}

// The file a save replaces, or nothing when there is none yet.
std::optional<struct stat> ExistingTarget(const std::string& target) {
  struct stat st {};
  if (stat(target.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    FailWrite(target, std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) FailWrite(target, "not a regular file");
  return st;
}

// Gives the file that owner and group where ours differ; false when that is not permitted.
bool TakeOwner(int fd, uid_t uid, gid_t gid) {
  struct stat now {};
  if (fstat(fd, &now) != 0) return false;
  if (now.st_uid == uid && now.st_gid == gid) return true;
  return fchown(fd, now.st_uid == uid ? static_cast<uid_t>(-1) : uid,
                now.st_gid == gid ? static_cast<gid_t>(-1) : gid) == 0;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A temporary file beside the target, removed again unless it has taken the target's place.
class TempFile {
 public:
  explicit TempFile(const std::string& target)
      : target_(target), name_(target + ".XXXXXX"), file_(mkostemp(name_.data(), O_CLOEXEC)) {
    if (!file_) FailWrite(target, std::strerror(errno));
  }
  ~TempFile() {
    if (!placed_) unlink(name_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int Fd() const { return file_.Get(); }

  void SetMode(mode_t mode) {
    if (fchmod(file_.Get(), mode) != 0) FailWrite(target_, std::strerror(errno));
  }

  void Replace(const std::string& text) {
    if (!WriteWhole(file_.Get(), text) || fsync(file_.Get()) != 0 || file_.Close() != 0 ||
        rename(name_.c_str(), target_.c_str()) != 0)
      FailWrite(target_, std::strerror(errno));
    placed_ = true;
  }

 private:
  std::string target_;
  std::string name_;
  os::Fd file_;
  bool placed_ = false;
};

// Rewrites a file through its own inode, so that it stays whose it is. Not one step like a
// rename: what was there is kept, and written back when the new text cannot be.
void RewriteInPlace(const std::string& target, const struct stat& old, const std::string& text) {
  os::Fd file(::open(target.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file) FailWrite(target, std::strerror(errno));
  struct stat now {};
  if (fstat(file.Get(), &now) != 0 || now.st_dev != old.st_dev || now.st_ino != old.st_ino)
    FailWrite(target, "the file changed while it was saved");
  std::string before;
  if (!ReadAll(file.Get(), before)) FailWrite(target, std::strerror(errno));
  if (WriteWhole(file.Get(), text) && fsync(file.Get()) == 0 && file.Close() == 0) return;
  const std::string reason = std::strerror(errno);
  const bool restored = file && WriteWhole(file.Get(), before) && fsync(file.Get()) == 0;
  FailWrite(target, reason + (restored ? "" : "; the file may be incomplete"));
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

IniFile IniFile::Open(const std::string& path) {
  // Without blocking, so that a named pipe in the file's place cannot hold the caller.
  const os::Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) return IniFile();
    FailRead(path, std::strerror(errno));
  }
  struct stat st {};
  if (fstat(file.Get(), &st) != 0) FailRead(path, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) FailRead(path, "not a regular file");
  std::string text;
  if (!ReadAll(file.Get(), text)) FailRead(path, std::strerror(errno));
  return Parse(text);
}

IniFile IniFile::Load(const std::string& path) {
  try {
    return Open(path);
  } catch (const IniReadError&) {
    return IniFile();
  }
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
  // One pass that moves every kept line once, however many copies of the section there are.
  bool erasing = false;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    ++eraseSteps_;
    if (const auto name = HeaderName(lines_[i].Raw)) erasing = EqualsIgnoreCase(*name, section);
    if (erasing) continue;
    if (kept != i) {
      lines_[kept] = std::move(lines_[i]);
      ++eraseSteps_;
    }
    ++kept;
  }
  lines_.resize(kept);
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto& l : lines_) out += l.Raw + l.Ending;
  return out;
}

void IniFile::Save(const std::string& path) const {
  const std::string target = ResolveTarget(path);
  const std::optional<struct stat> old = ExistingTarget(target);
  TempFile temp(target);
  if (!old) {
    // Root saving into a user's folder leaves a file that user can save again.
    struct stat folder {};
    if (geteuid() == 0 && stat(FolderOf(target).c_str(), &folder) == 0)
      TakeOwner(temp.Fd(), folder.st_uid, folder.st_gid);
    temp.SetMode(0644);
  } else if (TakeOwner(temp.Fd(), old->st_uid, old->st_gid)) {
    temp.SetMode(old->st_mode & 07777);  // after the owner: a change of owner clears set-id bits
  } else {
    // Renaming our file into its place would hand another user's file to us.
    RewriteInPlace(target, *old, Text());
    return;
  }
  temp.Replace(Text());
}

}  // namespace platform
