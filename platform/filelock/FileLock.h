// A file that one program at a time keeps for itself: created private to its user, and held
// with a lock that every other holder's try fails on, until the holder lets go or ends.
#pragma once
#include <string>

#include "platform/linux/Handle.h"

namespace platform {

class FileLock {
 public:
  enum class LockResult { Held, HeldByOther, Failed };

  // Opens the file, creating it with mode 0600 when it is missing, and tries the lock
  // without waiting. The lock goes with the handle (and with the program's end); it does
  // not touch the byte locks a database keeps on the same file.
  explicit FileLock(const std::string& path);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  LockResult Result() const { return result_; }
  // Why the file could not be opened or locked (the system's words).
  const std::string& Error() const { return error_; }

 private:
  os::Fd fd_;
  LockResult result_ = LockResult::Failed;
  std::string error_;
};

}  // namespace platform
