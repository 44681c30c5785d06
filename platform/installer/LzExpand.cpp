#include "platform/installer/LzExpand.h"

#include <fcntl.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr std::array<unsigned char, 8> kSzddMagic = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
// The names the expander is given; it opens them through HandleSystem, never by name.
constexpr const char* kSourceName = "source";
constexpr const char* kDestName = "dest";

std::int64_t FromMspackError(int err) {
  switch (err) {
    case MSPACK_ERR_OPEN:
    case MSPACK_ERR_WRITE:
      return LzErrorWrite;
    case MSPACK_ERR_NOMEMORY:
      return LzErrorMemory;
    case MSPACK_ERR_READ:
    case MSPACK_ERR_SEEK:
      return LzErrorRead;
    default:
      return LzErrorFormat;
  }
}

// Reads up to size bytes, fewer only at the end of the file; -1 on a read error.
ssize_t ReadFully(int fd, void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// The expander's view of the two handles we already hold: it reads the source and writes
// the new file through them, so it never opens a file by name (and never follows a link).
struct HandleSystem {
  mspack_system Base;  // first, so that the expander's pointer is ours
  int SourceFd;
  NewFile* Out;
  std::int64_t Written;
};

struct HandleFile {
  mspack_file Base;  // first, as above
  HandleSystem* System;
  bool Writing;
};

HandleFile* AsFile(mspack_file* file) {
  return reinterpret_cast<HandleFile*>(file);
}

mspack_file* OpenHandle(mspack_system* self, const char* name, int mode) {
  auto* system = reinterpret_cast<HandleSystem*>(self);
  const bool reading = mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, kSourceName) == 0;
  const bool writing = mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kDestName) == 0;
  if (!reading && !writing) return nullptr;
  auto* file = new HandleFile{{}, system, writing};
  return &file->Base;
}

void CloseHandle(mspack_file* file) {
  delete AsFile(file);
}

int ReadHandle(mspack_file* file, void* buffer, int bytes) {
  HandleFile* f = AsFile(file);
  if (f->Writing || bytes < 0) return -1;
  return static_cast<int>(ReadFully(f->System->SourceFd, buffer, static_cast<std::size_t>(bytes)));
}

int WriteHandle(mspack_file* file, void* buffer, int bytes) {
  HandleFile* f = AsFile(file);
  if (!f->Writing || bytes < 0) return -1;
  if (!f->System->Out->Write(buffer, static_cast<std::size_t>(bytes))) return -1;
  f->System->Written += bytes;
  return bytes;
}

int SeekHandle(mspack_file* file, off_t offset, int mode) {
  HandleFile* f = AsFile(file);
  const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                     : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                                   : SEEK_END;
  const int fd = f->Writing ? f->System->Out->Fd() : f->System->SourceFd;
  return lseek(fd, offset, whence) < 0 ? -1 : 0;
}

off_t TellHandle(mspack_file* file) {
  HandleFile* f = AsFile(file);
  return lseek(f->Writing ? f->System->Out->Fd() : f->System->SourceFd, 0, SEEK_CUR);
}

void Message(mspack_file*, const char*, ...) {}
void* Alloc(mspack_system*, std::size_t bytes) {
  return std::malloc(bytes);
}
void Free(void* p) {
  std::free(p);
}
void Copy(void* from, void* to, std::size_t bytes) {
  std::memmove(to, from, bytes);
}

HandleSystem MakeSystem(int sourceFd, NewFile& out) {
  HandleSystem system{};
  system.Base = {OpenHandle, CloseHandle, ReadHandle, WriteHandle, SeekHandle, TellHandle,
                 Message,    Alloc,       Free,       Copy,        nullptr};
  system.SourceFd = sourceFd;
  system.Out = &out;
  return system;
}

std::int64_t Expand(int sourceFd, NewFile& out) {
  if (lseek(sourceFd, 0, SEEK_SET) != 0) return LzErrorRead;
  HandleSystem system = MakeSystem(sourceFd, out);
  msszdd_decompressor* szdd = mspack_create_szdd_decompressor(&system.Base);
  if (szdd == nullptr) return LzErrorMemory;
  std::int64_t result = LzErrorFormat;
  if (msszddd_header* header = szdd->open(szdd, kSourceName)) {
    const int err = szdd->extract(szdd, header, kDestName);
    if (err != MSPACK_ERR_OK)
      result = FromMspackError(err);
    else if (system.Written < header->length)
      result = LzErrorShort;  // the data ran out: half a file is no copy
    else
      result = system.Written;
    szdd->close(szdd, header);
  } else {
    result = FromMspackError(szdd->last_error(szdd));
  }
  mspack_destroy_szdd_decompressor(szdd);
  return result;
}

std::int64_t CopyPlain(int in, NewFile& out) {
  std::array<char, 64 * 1024> buf{};
  std::int64_t total = 0;
  if (lseek(in, 0, SEEK_SET) != 0) return LzErrorRead;
  for (;;) {
    const ssize_t n = ReadFully(in, buf.data(), buf.size());
    if (n < 0) return LzErrorRead;
    if (n > 0 && !out.Write(buf.data(), static_cast<std::size_t>(n))) return LzErrorWrite;
    total += n;
    if (static_cast<std::size_t>(n) < buf.size()) return total;
  }
}

}  // namespace

bool IsSzddSignature(const unsigned char* data, std::size_t size) {
  return size >= kSzddMagic.size() && std::memcmp(data, kSzddMagic.data(), kSzddMagic.size()) == 0;
}

std::unique_ptr<LzFile> LzOpenRead(const std::string& path) {
  struct stat st {};
  // Looked at before opening: opening a device or a pipe may do something by itself.
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  os::Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return nullptr;
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  std::unique_ptr<LzFile> file(new LzFile);
  file->fd_ = std::move(fd);
  file->path_ = path;
  file->executable_ = (st.st_mode & 0111) != 0;
  std::array<unsigned char, kSzddMagic.size()> head{};
  const ssize_t n = ReadFully(file->fd_.Get(), head.data(), head.size());
  file->compressed_ = n > 0 && IsSzddSignature(head.data(), static_cast<std::size_t>(n));
  return file;
}

std::unique_ptr<LzFile> LzCreate(const Folder& folder, const std::string& name, bool executable) {
  auto out = NewFile::Create(folder, name, executable ? 0777 : 0666);
  if (!out) return nullptr;
  std::unique_ptr<LzFile> file(new LzFile);
  file->path_ = name;
  file->out_ = std::move(out);
  return file;
}

std::int64_t LzCopy(LzFile& source, LzFile& dest) {
  if (!source.fd_ || !dest.out_) return LzErrorHandles;
  const int in = source.fd_.Get();
  const std::int64_t result =
      source.compressed_ ? Expand(in, *dest.out_) : CopyPlain(in, *dest.out_);
  dest.copied_ = result >= 0;
  return result;
}

bool LzClose(std::unique_ptr<LzFile>& file) {
  bool ok = true;
  if (file && file->out_ && file->copied_) ok = file->out_->Commit();
  file.reset();
  return ok;
}

}  // namespace platform
