// Where the program is and where its files go.
#pragma once
#include <functional>
#include <string>

namespace platform {

// Full path the running program was started from, as found at the first call (make that
// early in start-up); empty when it cannot be found. The file names beside the program
// derive from it, so they stay put when the program's file is replaced while it runs.
std::string ProgramPath();
// Folder of the running program, ending in "/".
std::string ProgramDir();
// The path with its extension (after the last "." of the last component) replaced.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// The part after the last "/" (names from outside may use "\" too).
std::string ExtractFileName(const std::string& path);
// The part up to and including the last "/" (or "\").
std::string ExtractFilePath(const std::string& path);

bool FileExists(const std::string& path);
bool DirectoryWritable(const std::string& dir);
// Creates the folder and its parents; true when it exists afterwards.
bool ForceDirectories(const std::string& dir);

// The settings file of a program: beside the program when that folder is writable, else in
// the user's configuration folder; loading takes the user's file when there is one.
struct SettingsFileLocation {
  std::string Load;
  std::string Save;
};

struct SettingsFileFacts {
  std::string ProgramPath;         // e.g. /opt/Ombrix/Ombrix
  bool ProgramDirWritable = true;  // may the user write beside the program?
  std::string XdgConfigHome;       // $XDG_CONFIG_HOME, may be empty
  std::string Home;                // $HOME
  std::string XdgStateHome;        // $XDG_STATE_HOME, may be empty
  std::function<bool(const std::string&)> Exists;
};

SettingsFileLocation ChooseSettingsFile(const SettingsFileFacts& facts);
// The same for a program (default: the running one) and the real environment.
SettingsFileLocation SettingsFile(const std::string& programPath = {});

// A file the program writes for itself (its log, its trace): beside the program when that
// folder is writable, else in the user's state folder, $XDG_STATE_HOME/Ombrix/ (by default
// ~/.local/state/Ombrix/).
std::string ChooseProgramFile(const SettingsFileFacts& facts, const std::string& fileName);
// The same for the running program and the real environment; the state folder is created
// when it is the one chosen.
std::string ProgramFile(const std::string& fileName, const std::string& programPath = {});

}  // namespace platform
