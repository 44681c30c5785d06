#include "platform/installer/Folders.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/paths/Paths.h"

namespace platform {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}

// XDG base folders must be absolute; anything else is to be ignored.
std::string XdgFolder(const std::string& value, const std::string& home, const char* fallback) {
  if (!value.empty() && value.front() == '/') return value;
  if (home.empty() || home.front() != '/') return {};
  return home + fallback;
}

}  // namespace

FolderFacts CurrentFolderFacts() {
  FolderFacts facts;
  facts.Home = Env("HOME");
  facts.XdgDataHome = Env("XDG_DATA_HOME");
  facts.XdgConfigHome = Env("XDG_CONFIG_HOME");
  facts.Writable = [](const std::string& dir) { return DirectoryWritable(dir); };
  return facts;
}

std::string ProgramFilesPath(const FolderFacts& facts) {
  if (facts.Writable && facts.Writable("/opt")) return "/opt";
  if (facts.Home.empty() || facts.Home.front() != '/') return {};
  return facts.Home + "/.local/opt";
}

std::string ProgramFilesPath() {
  return ProgramFilesPath(CurrentFolderFacts());
}

std::string ShellFolderPath(int kind, const FolderFacts& facts) {
  switch (kind) {
    case UserPrograms: {
      const std::string data = XdgFolder(facts.XdgDataHome, facts.Home, "/.local/share");
      return data.empty() ? data : data + "/applications";
    }
    case CommonPrograms:
      return "/usr/local/share/applications";
    case Startup: {
      const std::string config = XdgFolder(facts.XdgConfigHome, facts.Home, "/.config");
      return config.empty() ? config : config + "/autostart";
    }
    default:
      return {};
  }
}

std::string ShellFolderPath(int kind) {
  return ShellFolderPath(kind, CurrentFolderFacts());
}

}  // namespace platform
