// setup.inf: the installation script, its placeholders and its word lists.
#pragma once
#include <string>

#include "platform/inifile/IniFile.h"

namespace ombrix::setup {

// The script's values as the wizard uses them.
class TScript {
 public:
  std::string Logo;
  std::string Company;
  std::string AppName;
  std::string Directory;
  std::string Exename;
  std::string Files;
  std::string CheckedFiles;
  std::string OptionalFiles;
  std::string ShortCuts;
  std::string LicenseFile;
  bool RegisterUninstall = false;
  bool AddToStartup = false;
  bool StartNow = false;
  std::string Url;

  // The machine's program-files folder, without trailing "/"; set before reading.
  std::string ProgramFiles;
  // The user's home folder, for a Directory that begins with "~/"; set before reading.
  std::string HomeFolder;
  // Why the script is invalid, when there is more to say than that it is missing or lacks a
  // required key: a value longer than the reader keeps (it would be used cut short).
  std::string Problem;

  // Reads sourceDir + "setup.inf" (sourceDir ends in "/"); true when the file exists and
  // every required key has a value.
  bool ReadScript(const std::string& sourceDir);
  // The same for a script already parsed.
  bool ReadSettings(const platform::IniFile& ini);
  std::string ExpandPlaceholders(const std::string& s) const;

 private:
  std::string ReadKey(const char* key);
  std::string ReadRequiredKey(const char* key);
  bool ReadSwitch(const char* key, const char* fallback) const;
  std::string ExpandHome(const std::string& path) const;

  platform::IniFile ini_;
  bool valid_ = false;
};

// Takes the first word off the list: words are separated by spaces, a word in double
// quotes may hold spaces.
std::string NextWord(std::string& list);
// Number of words NextWord takes from the list before it is empty.
int CountWords(std::string list);
// The word in double quotes, for joining into a list.
std::string Quoted(const std::string& word);
// "/" for the "\" that paths written in the script may use.
std::string SlashPath(std::string path);

}  // namespace ombrix::setup
