#include "platform/installer/Shortcut.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/installer/FileOps.h"
#include "platform/paths/Paths.h"

namespace platform {

namespace {

// The string escapes of desktop entry values.
std::string EscapeValue(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (c == '\\')
      out += "\\\\";
    else
      out += c;
  }
  return out;
}

// Exec arguments are quoted, with the characters special inside quotes escaped, and "%"
// doubled since it introduces field codes.
std::string ExecArgument(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

std::string WithoutTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

bool IsSafeShortcutName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string ShortcutFile(const std::string& folder, const std::string& name) {
  return folder + "/" + name + ".desktop";
}

std::string DesktopEntryText(const std::string& target, const std::string& name) {
  const std::string dir = WithoutTrailingSlash(ExtractFilePath(target));
  std::string text = "[Desktop Entry]\nType=Application\n";
  text += "Name=" + EscapeValue(name) + "\n";
  text += "Exec=" + EscapeValue(ExecArgument(target)) + "\n";
  if (!dir.empty()) text += "Path=" + EscapeValue(dir) + "\n";
  text += "Icon=" + EscapeValue(target) + "\n";
  return text;
}

bool CreateShortcutFile(const std::string& folder, const std::string& target,
                        const std::string& name) {
  if (!IsSafeShortcutName(name) || folder.empty() || !ForceDirectories(folder)) return false;
  // Some desktops only start entries marked executable.
  return ReplaceFile(folder, ExtractFileName(ShortcutFile(folder, name)),
                     DesktopEntryText(target, name), 0777);
}

bool DeleteShortcutFile(const std::string& folder, const std::string& name) {
  if (!IsSafeShortcutName(name) || folder.empty()) return false;
  const std::string path = ShortcutFile(folder, name);
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(path.c_str()) == 0;
}

}  // namespace platform
