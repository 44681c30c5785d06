// Files that may be stored compressed: open, create, copy with expansion, close.
//
// A source in the SZDD format (the classic "compress" format: magic "SZDD" 88 F0 27 33,
// LZSS data) is expanded while it is copied; any other file is copied byte for byte.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace platform {

// Copy results below zero; a copy that succeeds returns the number of bytes written.
enum LzError : std::int64_t {
  LzErrorRead = -1,     // the source could not be read
  LzErrorWrite = -2,    // the destination could not be written
  LzErrorFormat = -3,   // the source claims to be compressed but its data is unusable
  LzErrorMemory = -4,   // the expander could not get memory
  LzErrorHandles = -5,  // a handle was not open
};

class LzFile {
 public:
  ~LzFile();
  LzFile(const LzFile&) = delete;
  LzFile& operator=(const LzFile&) = delete;

  const std::string& Path() const { return path_; }
  bool Compressed() const { return compressed_; }

 private:
  friend std::unique_ptr<LzFile> LzOpenRead(const std::string&);
  friend std::unique_ptr<LzFile> LzCreate(const std::string&);
  friend std::int64_t LzCopy(LzFile&, LzFile&);
  friend void LzClose(std::unique_ptr<LzFile>&);
  LzFile() = default;

  std::string path_;
  std::FILE* file_ = nullptr;
  bool compressed_ = false;
};

// Null when the file cannot be opened (a folder cannot be opened either).
std::unique_ptr<LzFile> LzOpenRead(const std::string& path);
// Creates or truncates; null on failure.
std::unique_ptr<LzFile> LzCreate(const std::string& path);
// Bytes written, or one of the LzError codes.
std::int64_t LzCopy(LzFile& source, LzFile& dest);
void LzClose(std::unique_ptr<LzFile>& file);

// True when the bytes start with the SZDD signature.
bool IsSzddSignature(const unsigned char* data, std::size_t size);

}  // namespace platform
