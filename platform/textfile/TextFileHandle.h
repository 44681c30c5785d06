// A file opened for writing lines: others may read it but not write it while it is open.
#pragma once
#include <cstddef>
#include <string>

#include "platform/linux/Handle.h"

namespace platform {

// Opens an existing file for writing at its end; not open when it is missing, not accessible
// or already held for writing by another writer.
os::Fd OpenForAppend(const std::string& path);
// Creates the file empty (truncating it); false when that is not possible.
bool CreateEmpty(const std::string& path);
// Writes all bytes; the result is only advisory.
bool WriteBytes(int handle, const char* data, std::size_t size);
// Pushes the file's data down to the disk.
void FlushToDisk(int handle);

}  // namespace platform
