// The folders an installation goes into: program files and the menu/startup folders.
#pragma once
#include <functional>
#include <string>

namespace platform {

// What the choice of folders depends on; tests fill it by hand.
struct FolderFacts {
  std::string Home;                                  // $HOME
  std::string XdgDataHome;                           // $XDG_DATA_HOME, may be empty
  std::string XdgConfigHome;                         // $XDG_CONFIG_HOME, may be empty
  std::function<bool(const std::string&)> Writable;  // may the user create entries in it?
};

FolderFacts CurrentFolderFacts();

// "/opt" when the user may write there, else "~/.local/opt"; no trailing "/". Empty when
// neither can be had. Nothing is created: the installation makes its folder when it runs.
std::string ProgramFilesPath(const FolderFacts& facts);
std::string ProgramFilesPath();

enum ShellFolderKind { UserPrograms = 0, CommonPrograms = 1, Startup = 2 };

// The menu folder of the user (0) or of all users (1), or the user's autostart folder (2),
// without trailing "/"; empty for an unknown kind or when the home folder is unknown.
std::string ShellFolderPath(int kind, const FolderFacts& facts);
std::string ShellFolderPath(int kind);

}  // namespace platform
