// Shortcuts: desktop entries that start a program, one file per shortcut.
#pragma once
#include <string>

namespace platform {

// A shortcut name must stay one file inside its folder: not empty, no "/" or "\", not "."
// or "..", no control characters.
bool IsSafeShortcutName(const std::string& name);

// The file a shortcut of that name occupies in the folder (no trailing "/" on the folder).
std::string ShortcutFile(const std::string& folder, const std::string& name);

// The text of a desktop entry that starts target in target's folder.
std::string DesktopEntryText(const std::string& target, const std::string& name);

// Creates the folder when needed and writes the entry as a new file in place of whatever
// had its name (a link is replaced, never written through); false for an unsafe name, a
// folder that is a link, or when the file cannot be written.
bool CreateShortcutFile(const std::string& folder, const std::string& target,
                        const std::string& name);
// Removes the entry; false for an unsafe name or when there is no such file to remove.
bool DeleteShortcutFile(const std::string& folder, const std::string& name);

}  // namespace platform
