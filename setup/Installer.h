// The installation and uninstallation steps, apart from the window that shows them.
#pragma once
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/installer/FileOps.h"
#include "platform/installer/LzExpand.h"
#include "setup/Script.h"

namespace ombrix::setup {

// Kinds of message lines.
enum TLineKind { lkNormal = 0, lkError = 1, lkNote = 2 };

// What the steps need from the window.
class TSetupView {
 public:
  virtual ~TSetupView() = default;
  // Shows the step and the file it works on; false once the user has cancelled.
  virtual bool SetStatus(const std::string& status, const std::string& fileName) = 0;
  virtual void StepProgress() = 0;
  virtual void ShowErrorPage(const std::string& message) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& question) = 0;
  virtual void AddLine(const std::string& text, TLineKind kind) = 0;
  virtual bool Canceled() const = 0;
};

// A value of the uninstall entry could not be written.
class ESetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TCopyMode { cmRequired, cmOptional, cmAsk };
enum TDeleteMode { dmReport, dmSilent };

struct TInstallOptions {
  bool AddShortCuts = true;
  bool Common = false;
  bool AddToStartup = false;
};

class TInstaller {
 public:
  TInstaller(const TScript& script, TSetupView& view) : script_(script), view_(view) {}

  std::string SourceDir;    // ends in "/"
  std::string InstallDir;   // ends in "/"
  std::string ExeFileName;  // the running program's own file name
  TInstallOptions Options;
  bool HadErrors = false;
  // Where the machine's keys are kept, and the menu and startup folders by kind; tests
  // point both into a folder of their own.
  std::string MachineKeys;
  std::function<std::string(int)> ShellFolder;

  static constexpr const char* UninstallRoot =
      R"(Software\MicroSoft\Windows\CurrentVersion\Uninstall)";
  std::string UninstallKey() const;

  int ProgressMaximum() const;
  // The steps of an installation up to the last progress step; false when one stopped it.
  // A directory that is no absolute path is refused before anything is touched. Raises
  // ESetupError when the uninstall entry cannot be written.
  bool RunInstall(const std::string& directoryText);
  bool IsAppRunning() const;
  bool CreateInstallDir();
  bool CopyEntry(const std::string& word, TCopyMode mode);
  bool CopyList(std::string list, TCopyMode mode);
  bool CreateShortcuts(int kind, std::string list);
  bool CreateShortcut(const std::string& folder, const std::string& target,
                      const std::string& name);
  void RegisterUninstaller();

  // The uninstall sequence after its page is shown; false when the application runs.
  bool RunUninstall();
  void DeleteFiles(std::string list, TDeleteMode mode);
  bool ScheduleSelfDelete();
  bool DeleteShortcuts(int kind, std::string list);
  void UnregisterUninstaller();

 private:
  // Holds the installation folder open for the copies: it must be a folder itself, not a
  // link, and belong to this user or root. Shows the Error page when it is not.
  bool OpenInstallFolder();
  std::unique_ptr<platform::LzFile> OpenSource(const std::string& source) const;
  bool CopyInto(platform::LzFile& in, const std::string& destName);
  std::string GroupFolder(int kind) const;
  void AddNormalLine(const std::string& text) { view_.AddLine(text, lkNormal); }
  void AddNoteLine(const std::string& text) { view_.AddLine(text, lkNote); }
  void AddErrorLine(const std::string& text);

  const TScript& script_;
  TSetupView& view_;
  platform::Folder folder_;
  std::string folderPath_;  // the InstallDir that folder_ holds
};

}  // namespace ombrix::setup
