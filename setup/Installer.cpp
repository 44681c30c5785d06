#include "setup/Installer.h"

#include "platform/installer/FileOps.h"
#include "platform/installer/KeyStore.h"
#include "platform/installer/LzExpand.h"
#include "platform/installer/Shortcut.h"
#include "platform/paths/Paths.h"

namespace ombrix::setup {

std::string TInstaller::UninstallKey() const {
  return std::string(UninstallRoot) + "\\" + script_.AppName;
}

int TInstaller::ProgressMaximum() const {
  int max = 2 + CountWords(script_.Exename + " " + script_.Files + " " + script_.OptionalFiles +
                           " " + script_.CheckedFiles);
  if (Options.AddShortCuts) max += 1;
  if (script_.RegisterUninstall) max += 3;
  return max;
}

bool TInstaller::RunInstall(const std::string& directoryText) {
  InstallDir = SlashPath(directoryText);
  if (InstallDir.empty() || InstallDir.back() != '/') InstallDir += '/';
  // A relative folder would depend on where setup was started from, and so would every
  // entry that names it.
  if (InstallDir.front() != '/') {
    view_.ShowErrorPage("The installation directory \"" + SlashPath(directoryText) +
                        R"(" is not a full path (one that begins with "/"))");
    return false;
  }
  if (IsAppRunning()) {
    view_.ShowErrorPage(
        "The application can not be installed because it appears to be already running");
    return false;
  }
  if (!CreateInstallDir()) return false;
  if (!CopyList(script_.Exename + " " + script_.Files, cmRequired)) return false;
  if (!CopyList(script_.CheckedFiles, cmAsk)) return false;
  if (!CopyList(script_.OptionalFiles + " " + Quoted(script_.LicenseFile), cmOptional))
    return false;
  if (script_.RegisterUninstall && !CopyList(ExeFileName + " setup.inf", cmRequired)) return false;
  // A shortcut that cannot be made is no reason to stop.
  if (Options.AddShortCuts) {
    CreateShortcuts(Options.Common ? 1 : 0, script_.ShortCuts);
    if (view_.Canceled()) return false;
  }
  if (Options.AddToStartup) {
    CreateShortcuts(2, script_.Exename + " " + Quoted(script_.AppName));
    if (view_.Canceled()) return false;
  }
  if (script_.RegisterUninstall) {
    RegisterUninstaller();
    if (view_.Canceled()) return false;
  }
  return true;
}

bool TInstaller::IsAppRunning() const {
  if (InstallDir.empty() || script_.Exename.empty()) return false;
  // The program is installed under the file-name part of its word, as every file is.
  const std::string path = InstallDir + platform::ExtractFileName(script_.Exename);
  // Only a file in a folder the installation may use counts: a link in the file's or the
  // folder's place is never followed (the copy replaces the one, the other is refused).
  if (!platform::Folder::Open(InstallDir, true).IsOpen() || !platform::IsRegularFile(path))
    return false;
  platform::ClearReadOnly(path);
  // A compiled program cannot be opened while it runs; a script runs inside an
  // interpreter, which holds it open or names it in its command line.
  return !platform::CanOpenExclusive(path) || platform::ProcessHoldsFile(path);
}

bool TInstaller::CreateInstallDir() {
  if (!view_.SetStatus("Creating the installation directory...", InstallDir)) return false;
  platform::ForceDirectories(InstallDir);
  if (!OpenInstallFolder()) return false;
  view_.StepProgress();
  return true;
}

bool TInstaller::OpenInstallFolder() {
  platform::FolderRefusal why = platform::FolderRefusal::None;
  folder_ = platform::Folder::Open(InstallDir, true, &why);
  folderPath_ = folder_.IsOpen() ? InstallDir : std::string();
  const std::string shown = "The application's installation directory " + InstallDir;
  if (why == platform::FolderRefusal::Link)
    view_.ShowErrorPage(shown + " is a symbolic link, not a folder");
  else if (why == platform::FolderRefusal::ForeignOwner)
    view_.ShowErrorPage(shown + " belongs to another user");
  else if (why != platform::FolderRefusal::None)
    view_.ShowErrorPage("The application's installation directory could not be created");
  return folder_.IsOpen();
}

bool TInstaller::CopyList(std::string list, TCopyMode mode) {
  while (!list.empty()) {
    if (!CopyEntry(NextWord(list), mode)) return false;
    view_.StepProgress();
  }
  return true;
}

// Compressed files are shipped with the last letter of their name replaced by "_".
std::unique_ptr<platform::LzFile> TInstaller::OpenSource(const std::string& source) const {
  auto in = platform::LzOpenRead(source);
  if (in || source.back() == '/') return in;
  std::string packed = source;
  packed.back() = '_';
  return platform::LzOpenRead(packed);
}

bool TInstaller::CopyEntry(const std::string& word, TCopyMode mode) {
  const std::string name = platform::ExtractFileName(word);
  const std::string source = SourceDir + name;
  const std::string destName = !name.empty() && name == ExeFileName ? "uninstall.exe" : name;
  const std::string dest = InstallDir + destName;
  if (!view_.SetStatus("Copying file...", dest)) return false;

  auto in = OpenSource(source);
  if (!in) {
    if (mode == cmOptional) return true;
    view_.ShowErrorPage("Error opening " + source);
    return false;
  }
  if (mode == cmAsk && platform::NameExists(dest) &&
      !view_.AskYesNo(dest + " already exists.  Do you want to replace it?"))
    return true;

  // Installing into the source folder: the file is in place already.
  if (platform::SameFile(source, dest) || platform::SameFile(in->Path(), dest)) return true;
  return CopyInto(*in, destName);
}

bool TInstaller::CopyInto(platform::LzFile& in, const std::string& destName) {
  const std::string dest = InstallDir + destName;
  if (folderPath_ != InstallDir && !OpenInstallFolder()) return false;
  auto out = platform::LzCreate(folder_, destName, in.Executable());
  if (!out) {
    view_.ShowErrorPage("Error creating " + dest);
    return false;
  }
  std::int64_t result = platform::LzCopy(in, *out);
  // Only a file written whole and safely on disk counts as copied.
  if (!platform::LzClose(out) && result >= 0) result = platform::LzErrorWrite;
  if (result < 0) {
    view_.ShowErrorPage("Error copying " + dest + "; copy result = " + std::to_string(result));
    return false;
  }
  return true;
}

std::string TInstaller::GroupFolder(int kind) const {
  const std::string folder = ShellFolder ? ShellFolder(kind) : std::string();
  if (folder.empty() || kind == 2) return folder;
  // The program group is named after the application: it must stay one folder inside
  // the menu folder, whatever the script says.
  if (!platform::IsSafeShortcutName(script_.AppName)) return {};
  return folder + "/" + script_.AppName;
}

bool TInstaller::CreateShortcuts(int kind, std::string list) {
  if (!view_.SetStatus("Creating Start Menu shortcuts...", "")) return false;
  const std::string folder = GroupFolder(kind);
  if (folder.empty()) return false;
  while (!list.empty()) {
    const std::string target = InstallDir + SlashPath(NextWord(list));
    const std::string name = NextWord(list);
    if (!CreateShortcut(folder, target, name)) {
      view_.StepProgress();
      return false;
    }
  }
  view_.StepProgress();
  return true;
}

bool TInstaller::CreateShortcut(const std::string& folder, const std::string& target,
                                const std::string& name) {
  view_.SetStatus("Creating Start Menu shortcut...", name);
  return platform::CreateShortcutFile(folder, target, name);
}

void TInstaller::RegisterUninstaller() {
  if (!view_.SetStatus("Registering uninstall program...", "")) return;
  platform::KeyStore store(MachineKeys);
  const std::string key = UninstallKey();
  auto set = [&](const char* name, const platform::KeyValue& value) {
    if (!store.SetValue(key, name, value))
      throw ESetupError(std::string("Failed to set data for '") + name + "'");
  };
  set("DisplayName", script_.AppName);
  if (!script_.Url.empty()) set("HelpLink", script_.Url);
  if (!script_.Company.empty()) set("Publisher", script_.Company);
  set("InstallLocation", InstallDir);
  set("UninstallString", "\"" + InstallDir + "uninstall.exe\"");
  set("NoRepair", std::uint32_t{1});
  set("NoModify", std::uint32_t{1});
  view_.StepProgress();
}

void TInstaller::AddErrorLine(const std::string& text) {
  HadErrors = true;
  view_.AddLine(text, lkError);
}

}  // namespace ombrix::setup
