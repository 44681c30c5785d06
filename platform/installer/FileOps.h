// File operations of the installer: the folder files are placed in, new files that replace
// what had their name, read-only attribute, exclusive open, removal, and removal of what a
// running uninstaller leaves behind.
//
// Nothing here writes through a symbolic link: a link found under a name the installer
// writes or removes is itself replaced or removed, and what it points to stays as it was.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/linux/Handle.h"

namespace platform {

// Why a folder cannot take the installation.
enum class FolderRefusal { None, Missing, Link, NotFolder, ForeignOwner };

// A folder held open while files are placed in it. Names are looked up inside this very
// folder, so a link put in the folder's place after it was opened leads nowhere.
class Folder {
 public:
  // Opens a folder that is no symbolic link itself; with ownOnly it must also belong to
  // this user or to root. Not open (IsOpen false, the reason in *why) otherwise.
  static Folder Open(const std::string& path, bool ownOnly, FolderRefusal* why = nullptr);
  bool IsOpen() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }

 private:
  os::Fd fd_;
};

// True for a name that stays one entry inside its folder: not empty, no "/", not "." or "..".
bool IsPlainFileName(const std::string& name);

// A new regular file that takes its name only when committed; until then whatever has the
// name (a file, a link, nothing) stays as it was, and a file that is never committed is
// removed again.
class NewFile {
 public:
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // mode is the mode asked for before the umask: 0777 for a program, 0666 for other files.
  // Null when the name is not plain, a folder has it, or the file cannot be made.
  static std::unique_ptr<NewFile> Create(const Folder& folder, const std::string& name,
                                         mode_t mode);
  // Writes all of the bytes; false on any failure (a full disk included).
  bool Write(const void* data, std::size_t size);
  int Fd() const { return fd_.Get(); }
  // Flushes the file to disk, closes it and puts it in place of its name in one step; false
  // when any of that fails, and then the name keeps what it had.
  bool Commit();

 private:
  NewFile() = default;
  void Discard();

  os::Fd dirFd_;
  os::Fd fd_;
  std::string name_;
  std::string tempName_;
};

// Writes a whole file through NewFile into the folder path (which must be no link).
bool ReplaceFile(const std::string& folder, const std::string& name, const std::string& content,
                 mode_t mode);

// True for a regular file; a link is not followed.
bool IsRegularFile(const std::string& path);
// True when something (a file, a link, a folder) has that name; a link is not followed.
bool NameExists(const std::string& path);

// Gives the owner write permission on a regular file; false when the name is no regular
// file (a link is not followed) or the mode cannot be changed.
bool ClearReadOnly(const std::string& path);

// True when the file can be opened for reading and writing with nobody else holding it
// exclusively. A running program's file cannot be opened for writing (ETXTBSY), so this
// tells whether a program is running from that file. A link is not followed.
bool CanOpenExclusive(const std::string& path);

// True when another process has the file open, runs it, or names it in its command line
// (the way an interpreter runs a script). Processes of other users count only as far as
// this user may look at them.
bool ProcessHoldsFile(const std::string& path);

// Removes what has the name, unless it is a folder: a file, or a link (not what it points
// to). Never a folder, never recursively.
bool DeleteInstalledFile(const std::string& path);

bool FolderExists(const std::string& path);

// True when the folder is there and writable, or could be made by this user: its nearest
// existing parent is a writable folder. Nothing is created.
bool FolderObtainable(const std::string& path);

// True when the existing file a leads to and the name b itself (not followed when it is a
// link) are one and the same file.
bool SameFile(const std::string& a, const std::string& b);

// Removes a folder that is empty.
bool RemoveEmptyFolder(const std::string& path);

// Marks a file or folder for removal once the program that asks has ended. The files of a
// running program may be removed at once here, so a file goes now; a folder goes now when
// it is empty, and a folder that still holds files is left alone, as it would be at a
// restart. False when the removal is refused (for example for want of permission).
bool DeleteAtRestart(const std::string& path);

}  // namespace platform
