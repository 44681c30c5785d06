#include "platform/installer/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>

#include "platform/linux/Files.h"
#include "platform/linux/Processes.h"

namespace platform {

namespace {

constexpr int kTempTries = 64;

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

bool LinkLeadsTo(const std::string& link, const struct stat& target) {
  struct stat st {};
  return stat(link.c_str(), &st) == 0 && SameInode(st, target);
}

bool HasFileOpen(const std::string& proc, const struct stat& target) {
  // Another user's process, or one that is gone, lists nothing.
  for (const std::uint32_t fd : os::NumberedEntries(AT_FDCWD, (proc + "/fd").c_str()))
    if (LinkLeadsTo(proc + "/fd/" + std::to_string(fd), target)) return true;
  return false;
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
  const std::string text = os::ReadWholeFile(proc + "/cmdline").value_or("");
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

Folder Folder::Open(const std::string& folderPath, bool ownOnly, FolderRefusal* why) {
  // A trailing "/" would make the system follow a link in the folder's place.
  std::string path = folderPath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  Folder folder;
  struct stat st {};
  FolderRefusal refusal = FolderRefusal::Missing;
  if (!path.empty() && lstat(path.c_str(), &st) == 0) {
    folder.fd_.Reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    refusal = S_ISLNK(st.st_mode)                                ? FolderRefusal::Link
              : !folder.fd_ || fstat(folder.fd_.Get(), &st) != 0 ? FolderRefusal::NotFolder
                                                                 : Refusal(st, ownOnly);
  }
  if (refusal != FolderRefusal::None) folder.fd_.Reset();
  if (why != nullptr) *why = refusal;
  return folder;
}

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

NewFile::~NewFile() {
  Discard();
}

std::unique_ptr<NewFile> NewFile::Create(const Folder& folder, const std::string& name,
                                         mode_t mode) {
  struct stat st {};
  if (!folder.IsOpen() || !IsPlainFileName(name)) return nullptr;
  if (fstatat(folder.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
    return nullptr;
  std::unique_ptr<NewFile> file(new NewFile);
  file->dirFd_.Reset(fcntl(folder.Fd(), F_DUPFD_CLOEXEC, 0));
  if (!file->dirFd_) return nullptr;
  file->name_ = name;
  // The kernel takes the umask off the mode, as for any file a program makes.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  for (int i = 0; i < kTempTries && !file->fd_; ++i) {
    file->tempName_ = TempName();
    file->fd_.Reset(openat(file->dirFd_.Get(), file->tempName_.c_str(), flags, mode & 0777));
    if (!file->fd_ && errno != EEXIST) break;
  }
  if (!file->fd_) file->tempName_.clear();
  return file->fd_ ? std::move(file) : nullptr;
}

bool NewFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0 && fd_) {
    const ssize_t n = ::write(fd_.Get(), bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return fd_.Valid();
}

bool NewFile::Commit() {
  if (!fd_) return false;
  // A full disk may show only here: at the flush, or when the file is closed.
  const bool flushed = fsync(fd_.Get()) == 0;
  const bool closed = fd_.Close() == 0;
  if (!flushed || !closed ||
      renameat(dirFd_.Get(), tempName_.c_str(), dirFd_.Get(), name_.c_str()) != 0) {
    Discard();
    return false;
  }
  tempName_.clear();
  return true;
}

void NewFile::Discard() {
  fd_.Reset();
  if (!tempName_.empty() && dirFd_) unlinkat(dirFd_.Get(), tempName_.c_str(), 0);
  tempName_.clear();
}

bool ReplaceFile(const std::string& folder, const std::string& name, const std::string& content,
                 mode_t mode) {
  const Folder dir = Folder::Open(folder, false);
  const auto file = NewFile::Create(dir, name, mode);
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
  const os::Fd file(open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!file) return false;
  struct stat st {};
  bool ok = fstat(file.Get(), &st) == 0 && S_ISREG(st.st_mode);
  if (ok && (st.st_mode & S_IWUSR) == 0) {
    const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
    ok = chmod(self.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
  }
  return ok;
}

bool CanOpenExclusive(const std::string& path) {
  // The lock goes with the descriptor.
  const os::Fd file(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  return file && flock(file.Get(), LOCK_EX | LOCK_NB) == 0;
}

bool ProcessHoldsFile(const std::string& path) {
  struct stat target {};
  if (stat(path.c_str(), &target) != 0) return false;
  const std::string fileName = path.substr(path.find_last_of('/') + 1);
  const auto self = static_cast<std::uint32_t>(getpid());
  for (const std::uint32_t pid : os::ListPids()) {
    if (pid != self && ProcessHolds("/proc/" + std::to_string(pid), fileName, target)) return true;
  }
  return false;
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
