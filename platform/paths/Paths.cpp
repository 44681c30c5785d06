#include "platform/paths/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/procstatus/ProcessStatus.h"

namespace platform {

std::string ProgramPath() {
  // Taken once, at the first call early in start-up: a rebuild or an upgrade while the
  // program runs must not move its files.
  static const std::string path = ExecutableOfLink("/proc/self/exe");
  return path;
}

std::string ProgramDir() {
  return ExtractFilePath(ProgramPath());
}

std::string ExtractFilePath(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const auto slash = path.find_last_of("/\\");
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryWritable(const std::string& dir) {
  return !dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0;
}

bool ForceDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (!partial.empty()) mkdir(partial.c_str(), 0755);
  }
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

SettingsFileLocation ChooseSettingsFile(const SettingsFileFacts& facts) {
  const std::string beside = ChangeFileExt(facts.ProgramPath, ".ini");
  std::string config = facts.XdgConfigHome;
  if (config.empty() || config.front() != '/')  // relative values are to be ignored
    config = facts.Home.empty() ? std::string() : facts.Home + "/.config";
  const std::string user =
      config.empty() ? std::string() : config + "/Ombrix/" + ExtractFileName(beside);

  SettingsFileLocation where;
  if (facts.ProgramDirWritable || user.empty()) {
    where.Load = where.Save = beside;
    return where;
  }
  where.Save = user;
  where.Load = (facts.Exists && facts.Exists(user)) ? user : beside;
  return where;
}

namespace {

SettingsFileFacts RealFacts(const std::string& programPath) {
  SettingsFileFacts facts;
  facts.ProgramPath = programPath.empty() ? ProgramPath() : programPath;
  facts.ProgramDirWritable = DirectoryWritable(ExtractFilePath(facts.ProgramPath));
  if (const char* x = std::getenv("XDG_CONFIG_HOME")) facts.XdgConfigHome = x;
  if (const char* h = std::getenv("HOME")) facts.Home = h;
  if (const char* s = std::getenv("XDG_STATE_HOME")) facts.XdgStateHome = s;
  facts.Exists = FileExists;
  return facts;
}

}  // namespace

SettingsFileLocation SettingsFile(const std::string& programPath) {
  return ChooseSettingsFile(RealFacts(programPath));
}

std::string ChooseProgramFile(const SettingsFileFacts& facts, const std::string& fileName) {
  const std::string beside = ExtractFilePath(facts.ProgramPath) + fileName;
  std::string state = facts.XdgStateHome;
  if (state.empty() || state.front() != '/')  // relative values are to be ignored
    state = facts.Home.empty() ? std::string() : facts.Home + "/.local/state";
  if (facts.ProgramDirWritable || state.empty()) return beside;
  return state + "/Ombrix/" + fileName;
}

std::string ProgramFile(const std::string& fileName, const std::string& programPath) {
  const SettingsFileFacts facts = RealFacts(programPath);
  const std::string file = ChooseProgramFile(facts, fileName);
  if (!facts.ProgramDirWritable) ForceDirectories(ExtractFilePath(file));
  return file;
}

}  // namespace platform
