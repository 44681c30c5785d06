// Files that may be stored compressed: open, create, copy with expansion, close.
//
// A source in the SZDD format (the classic "compress" format: magic "SZDD" 88 F0 27 33,
// LZSS data) is expanded while it is copied; any other file is copied byte for byte.
// A destination is a new file that takes its name only when a copy into it succeeded and it
// was written to disk (NewFile): a failed copy leaves whatever had the name as it was, and
// a symbolic link under the name is replaced, never written through.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/installer/FileOps.h"

namespace platform {

// Copy results below zero; a copy that succeeds returns the number of bytes written.
enum LzError : std::int64_t {
  LzErrorRead = -1,     // the source could not be read
  LzErrorWrite = -2,    // the destination could not be written
  LzErrorFormat = -3,   // the source claims to be compressed but its data is unusable
  LzErrorMemory = -4,   // the expander could not get memory
  LzErrorHandles = -5,  // a handle was not open
  LzErrorShort = -6,    // the compressed data ends before the length its header gives
};

class LzFile {
 public:
  ~LzFile() = default;
  LzFile(const LzFile&) = delete;
  LzFile& operator=(const LzFile&) = delete;

  const std::string& Path() const { return path_; }
  bool Compressed() const { return compressed_; }
  // A source with any execute permission bit: its copy is to be a program too.
  bool Executable() const { return executable_; }

 private:
  friend std::unique_ptr<LzFile> LzOpenRead(const std::string&);
  friend std::unique_ptr<LzFile> LzCreate(const Folder&, const std::string&, bool);
  friend std::int64_t LzCopy(LzFile&, LzFile&);
  friend bool LzClose(std::unique_ptr<LzFile>&);
  LzFile() = default;

  std::string path_;
  os::Fd fd_;  // the source
  std::unique_ptr<NewFile> out_;
  bool compressed_ = false;
  bool executable_ = false;
  bool copied_ = false;  // a copy into this destination succeeded
};

// A regular file opened for reading; null when it cannot be opened (a folder cannot).
std::unique_ptr<LzFile> LzOpenRead(const std::string& path);
// A new file for the name in the folder, with the usual mode of a new file: 0777 less the
// umask for a program, 0666 less the umask otherwise. Null on failure, and when a folder
// has the name.
std::unique_ptr<LzFile> LzCreate(const Folder& folder, const std::string& name, bool executable);
// Bytes written, or one of the LzError codes. A compressed source succeeds only when it
// yields at least the length its header gives.
std::int64_t LzCopy(LzFile& source, LzFile& dest);
// Closes the file. A destination that a copy succeeded into is flushed to disk and put in
// place of its name; false when that fails (the name then keeps what it had). A destination
// without a successful copy is dropped.
bool LzClose(std::unique_ptr<LzFile>& file);

// True when the bytes start with the SZDD signature.
bool IsSzddSignature(const unsigned char* data, std::size_t size);

}  // namespace platform
