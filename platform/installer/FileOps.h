// File operations of the installer: read-only attribute, exclusive open, removal, and
// removal of what a running uninstaller leaves behind.
#pragma once
#include <string>

namespace platform {

// Gives the owner write permission; false when the file is not there or cannot be changed.
bool ClearReadOnly(const std::string& path);

// True when the file can be opened for reading and writing with nobody else holding it
// exclusively. A running program's file cannot be opened for writing (ETXTBSY), so this
// tells whether a program is running from that file.
bool CanOpenExclusive(const std::string& path);

// Removes a regular file by name; never a folder, never recursively, never through a link
// to something else (a symbolic link is not a regular file and is refused).
bool DeleteRegularFile(const std::string& path);

bool FolderExists(const std::string& path);

// True when both names lead to one and the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// Removes a folder that is empty.
bool RemoveEmptyFolder(const std::string& path);

// Marks a file or folder for removal once the program that asks has ended. The files of a
// running program may be removed at once here, so a file goes now; a folder goes now when
// it is empty, and a folder that still holds files is left alone, as it would be at a
// restart. False when the removal is refused (for example for want of permission).
bool DeleteAtRestart(const std::string& path);

}  // namespace platform
