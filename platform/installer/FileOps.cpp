#include "platform/installer/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <utility>

namespace platform {

namespace {

constexpr int kTempTries = 64;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string TempName() {
  static std::random_device random;
  char text[32];
  std::snprintf(text, sizeof text, ".setup-%08x", static_cast<unsigned>(random()));
  return text;
}

std::string ParentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

FolderRefusal Refusal(const struct stat& st, bool ownOnly) {
  if (!S_ISDIR(st.st_mode)) return FolderRefusal::NotFolder;
  if (ownOnly && st.st_uid != geteuid() && st.st_uid != 0) return FolderRefusal::ForeignOwner;
  return FolderRefusal::None;
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsProcessId(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

bool LinkLeadsTo(const std::string& link, const struct stat& target) {
  struct stat st {};
  return stat(link.c_str(), &st) == 0 && SameInode(st, target);
}

bool HasFileOpen(const std::string& proc, const struct stat& target) {
  DIR* dir = opendir((proc + "/fd").c_str());
  if (dir == nullptr) return false;  // another user's process, or gone
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    if (IsProcessId(entry->d_name) && LinkLeadsTo(proc + "/fd/" + entry->d_name, target)) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

// An argument names the file when it ends in the file's name and leads to it, taken from
// the process's working folder when it is relative.
bool NamesFile(const std::string& proc, const std::string& arg, const std::string& fileName,
               const struct stat& target) {
  if (arg.size() < fileName.size() ||
      arg.compare(arg.size() - fileName.size(), fileName.size(), fileName) != 0)
    return false;
  const std::string path = arg.front() == '/' ? arg : proc + "/cwd/" + arg;
  return LinkLeadsTo(path, target);
}

bool CommandLineNames(const std::string& proc, const std::string& fileName,
                      const struct stat& target) {
  std::ifstream in(proc + "/cmdline", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    if (NamesFile(proc, text.substr(start, end - start), fileName, target)) return true;
    start = end + 1;
  }
  return false;
}

bool ProcessHolds(const std::string& proc, const std::string& fileName, const struct stat& target) {
  return LinkLeadsTo(proc + "/exe", target) || HasFileOpen(proc, target) ||
         CommandLineNames(proc, fileName, target);
}

}  // namespace

TFolder::~TFolder() {
  CloseFd(fd_);
}

TFolder::TFolder(TFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TFolder& TFolder::operator=(TFolder&& other) noexcept {
  if (this != &other) {
    CloseFd(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TFolder TFolder::Open(const std::string& folderPath, bool ownOnly, FolderRefusal* why) {
  // A trailing "/" would make the system follow a link in the folder's place.
  std::string path = folderPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  TFolder folder;
  struct stat st {};
  FolderRefusal refusal = FolderRefusal::Missing;
  if (!path.empty() && lstat(path.c_str(), &st) == 0) {
    folder.fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    refusal = S_ISLNK(st.st_mode)                             ? FolderRefusal::Link
              : folder.fd_ < 0 || fstat(folder.fd_, &st) != 0 ? FolderRefusal::NotFolder
                                                              : Refusal(st, ownOnly);
  }
  if (refusal != FolderRefusal::None) CloseFd(folder.fd_);
  if (why != nullptr) *why = refusal;
  return folder;
}

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

TNewFile::~TNewFile() {
  Discard();
  CloseFd(dirFd_);
}

std::unique_ptr<TNewFile> TNewFile::Create(const TFolder& folder, const std::string& name,
                                           mode_t mode) {
  struct stat st {};
  if (!folder.IsOpen() || !IsPlainFileName(name)) return nullptr;
  if (fstatat(folder.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
    return nullptr;
  std::unique_ptr<TNewFile> file(new TNewFile);
  file->dirFd_ = fcntl(folder.Fd(), F_DUPFD_CLOEXEC, 0);
  if (file->dirFd_ < 0) return nullptr;
  file->name_ = name;
  // The kernel takes the umask off the mode, as for any file a program makes.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  for (int i = 0; i < kTempTries && file->fd_ < 0; ++i) {
    file->tempName_ = TempName();
    file->fd_ = openat(file->dirFd_, file->tempName_.c_str(), flags, mode & 0777);
    if (file->fd_ < 0 && errno != EEXIST) break;
  }
  if (file->fd_ < 0) file->tempName_.clear();
  return file->fd_ < 0 ? nullptr : std::move(file);
}

bool TNewFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0 && fd_ >= 0) {
    const ssize_t n = ::write(fd_, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return fd_ >= 0;
}

bool TNewFile::Commit() {
  if (fd_ < 0) return false;
  // A full disk may show only here: at the flush, or when the file is closed.
  const bool flushed = fsync(fd_) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (!flushed || !closed || renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str()) != 0) {
    Discard();
    return false;
  }
  tempName_.clear();
  return true;
}

void TNewFile::Discard() {
  CloseFd(fd_);
  if (!tempName_.empty() && dirFd_ >= 0) unlinkat(dirFd_, tempName_.c_str(), 0);
  tempName_.clear();
}

bool ReplaceFile(const std::string& folder, const std::string& name, const std::string& content,
                 mode_t mode) {
  const TFolder dir = TFolder::Open(folder, false);
  const auto file = TNewFile::Create(dir, name, mode);
  return file && file->Write(content.data(), content.size()) && file->Commit();
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool NameExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

bool ClearReadOnly(const std::string& path) {
  // Opened without following a link, and changed through that very handle.
  const int fd = open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok && (st.st_mode & S_IWUSR) == 0) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ok = chmod(self.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
  }
  ::close(fd);
  return ok;
}

bool CanOpenExclusive(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // also releases the lock
  return free;
}

bool ProcessHoldsFile(const std::string& path) {
  struct stat target {};
  if (stat(path.c_str(), &target) != 0) return false;
  const std::string fileName = path.substr(path.find_last_of('/') + 1);
  const std::string self = std::to_string(getpid());
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool held = false;
  while (const dirent* entry = readdir(proc)) {
    if (!IsProcessId(entry->d_name) || entry->d_name == self) continue;
    held = ProcessHolds(std::string("/proc/") + entry->d_name, fileName, target);
    if (held) break;
  }
  closedir(proc);
  return held;
}

bool DeleteInstalledFile(const std::string& path) {
  struct stat st {};
  if (path.empty() || lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(path.c_str()) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderObtainable(const std::string& path) {
  std::string p = path;
  struct stat st {};
  while (!p.empty() && stat(p.c_str(), &st) != 0) {
    if (errno != ENOENT || p == "/" || p == ".") return false;
    p = ParentOf(p);
  }
  return !p.empty() && S_ISDIR(st.st_mode) && access(p.c_str(), W_OK | X_OK) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && lstat(b.c_str(), &sb) == 0 && SameInode(sa, sb);
}

bool RemoveEmptyFolder(const std::string& path) {
  return !path.empty() && rmdir(path.c_str()) == 0;
}

bool DeleteAtRestart(const std::string& path) {
  struct stat st {};
  if (path.empty()) return false;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;  // nothing left to remove
  if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
  if (rmdir(path.c_str()) == 0) return true;
  // Not empty: like a restart, leave it; refused for want of rights: say so.
  return errno == ENOTEMPTY || errno == EEXIST;
}

}  // namespace platform
