#include <cctype>

#include "platform/installer/FileOps.h"
#include "platform/installer/KeyStore.h"
#include "platform/installer/Shortcut.h"
#include "platform/paths/Paths.h"
#include "setup/Installer.h"

namespace ombrix::setup {

namespace {

bool IsHelpFile(const std::string& name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".HLP";
}

}  // namespace

bool TInstaller::RunUninstall() {
  HadErrors = false;
  if (IsAppRunning()) {
    view_.ShowErrorPage(
        "The application can not be removed because it appears to be running.  Please exit "
        "the application, and then try the un-install again");
    return false;
  }
  AddNormalLine("Deleting application files...");
  DeleteFiles(script_.Exename + " " + script_.Files + " setup.inf", dmReport);
  DeleteFiles(script_.CheckedFiles, dmReport);
  DeleteFiles(script_.OptionalFiles + " " + Quoted(script_.LicenseFile), dmSilent);
  const bool restart = ScheduleSelfDelete();

  AddNormalLine("Deleting application shortcuts...");
  if (!DeleteShortcuts(0, script_.ShortCuts)) DeleteShortcuts(1, script_.ShortCuts);
  DeleteShortcuts(2, script_.Exename + " " + Quoted(script_.AppName));

  AddNormalLine("Deleting application registry entries...");
  UnregisterUninstaller();

  AddNormalLine("Uninstall complete.");
  if (HadErrors) AddErrorLine("Please check earlier messages for errors (in red).");
  if (restart) AddNoteLine("You must restart your computer to complete the uninstall.");
  AddNormalLine("Click Exit to exit this program.");
  return true;
}

void TInstaller::DeleteFiles(std::string list, TDeleteMode mode) {
  if (InstallDir.empty()) return;
  while (!list.empty()) {
    const std::string name = platform::ExtractFileName(NextWord(list));
    const std::string path = InstallDir + name;
    platform::ClearReadOnly(path);
    if (platform::DeleteInstalledFile(path)) {
      AddNormalLine(name + " deleted.");
    } else if (mode == dmReport) {
      AddErrorLine("The file \"" + name + "\" could not be deleted.");
    }
    if (IsHelpFile(name)) {
      const std::string index = platform::ChangeFileExt(name, ".GID");
      if (platform::DeleteInstalledFile(InstallDir + index)) AddNormalLine(index + " deleted.");
    }
  }
}

bool TInstaller::ScheduleSelfDelete() {
  if (platform::DeleteAtRestart(InstallDir + "uninstall.exe") &&
      platform::DeleteAtRestart(InstallDir)) {
    AddNormalLine(
        "The uninstall program and the application directory have been scheduled for "
        "deletion at the next system restart.");
    return true;
  }
  AddErrorLine(R"(The uninstall program "uninstall.exe" and the application directory ")" +
               InstallDir + "\" could not be deleted.");
  return false;
}

bool TInstaller::DeleteShortcuts(int kind, std::string list) {
  const std::string folder = GroupFolder(kind);
  if (folder.empty() || !platform::FolderExists(folder)) return false;
  bool result = true;
  while (!list.empty()) {
    NextWord(list);  // the target
    const std::string name = NextWord(list);
    if (platform::DeleteShortcutFile(folder, name)) {
      AddNormalLine("Shortcut \"" + name + "\" deleted.");
    } else {
      AddErrorLine(std::string(kind == 2 ? "The Startup shortcut \"" : "The shortcut \"") + name +
                   "\" could not be deleted.");
    }
  }
  if (kind != 2) {
    if (platform::RemoveEmptyFolder(folder)) {
      AddNormalLine("Application shortcut folder deleted.");
    } else {
      AddErrorLine("Application shortcut folder could not be deleted.");
    }
  }
  return result;
}

void TInstaller::UnregisterUninstaller() {
  // A name that reduces to nothing would name the whole uninstall key.
  const std::string root = platform::KeyStore::NormalKey(UninstallRoot);
  if (platform::KeyStore::NormalKey(UninstallKey()).size() <= root.size()) return;
  platform::KeyStore(MachineKeys).DeleteKeyTree(UninstallKey());
}

}  // namespace ombrix::setup
