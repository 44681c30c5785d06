#include "platform/installer/LzExpand.h"

#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace platform {

namespace {

constexpr std::array<unsigned char, 8> kSzddMagic = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};

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

std::int64_t CopyPlain(std::FILE* in, std::FILE* out) {
  std::array<char, 64 * 1024> buf{};
  std::int64_t total = 0;
  for (;;) {
    const std::size_t n = std::fread(buf.data(), 1, buf.size(), in);
    if (n > 0 && std::fwrite(buf.data(), 1, n, out) != n) return LzErrorWrite;
    total += static_cast<std::int64_t>(n);
    if (n < buf.size()) break;
  }
  if (std::ferror(in)) return LzErrorRead;
  if (std::fflush(out) != 0) return LzErrorWrite;
  return total;
}

// The expander writes through its own file handle, so the destination is handed over by
// name; the handle we hold keeps the file created until then.
std::int64_t Expand(const std::string& source, std::FILE* out, const std::string& dest) {
  msszdd_decompressor* szdd = mspack_create_szdd_decompressor(nullptr);
  if (szdd == nullptr) return LzErrorMemory;
  std::int64_t result = LzErrorFormat;
  if (msszddd_header* header = szdd->open(szdd, source.c_str())) {
    std::fflush(out);
    const int err = szdd->extract(szdd, header, dest.c_str());
    struct stat st {};
    if (err != MSPACK_ERR_OK)
      result = FromMspackError(err);
    else if (stat(dest.c_str(), &st) != 0)
      result = LzErrorWrite;
    else
      result = static_cast<std::int64_t>(st.st_size);  // data may end before the header said
    szdd->close(szdd, header);
  } else {
    result = FromMspackError(szdd->last_error(szdd));
  }
  mspack_destroy_szdd_decompressor(szdd);
  return result;
}

}  // namespace

bool IsSzddSignature(const unsigned char* data, std::size_t size) {
  return size >= kSzddMagic.size() && std::memcmp(data, kSzddMagic.data(), kSzddMagic.size()) == 0;
}

LzFile::~LzFile() {
  if (file_ != nullptr) std::fclose(file_);
}

std::unique_ptr<LzFile> LzOpenRead(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  std::unique_ptr<LzFile> file(new LzFile);
  file->path_ = path;
  file->file_ = f;
  std::array<unsigned char, kSzddMagic.size()> head{};
  const std::size_t n = std::fread(head.data(), 1, head.size(), f);
  file->compressed_ = IsSzddSignature(head.data(), n);
  std::rewind(f);
  return file;
}

std::unique_ptr<LzFile> LzCreate(const std::string& path) {
  if (path.empty()) return nullptr;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return nullptr;
  std::unique_ptr<LzFile> file(new LzFile);
  file->path_ = path;
  file->file_ = f;
  return file;
}

std::int64_t LzCopy(LzFile& source, LzFile& dest) {
  if (source.file_ == nullptr || dest.file_ == nullptr) return LzErrorHandles;
  const std::int64_t result = source.compressed_ ? Expand(source.path_, dest.file_, dest.path_)
                                                 : CopyPlain(source.file_, dest.file_);
  // Programs must stay programs: the copy gets the source's permission bits.
  struct stat st {};
  if (result >= 0 && fstat(fileno(source.file_), &st) == 0)
    fchmod(fileno(dest.file_), st.st_mode & 0777);
  return result;
}

void LzClose(std::unique_ptr<LzFile>& file) {
  file.reset();
}

}  // namespace platform
