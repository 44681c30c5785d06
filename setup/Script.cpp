#include "setup/Script.h"

#include <cctype>

#include "platform/paths/Paths.h"

namespace ombrix::setup {

namespace {

constexpr const char* kSection = "Settings";

bool IsTokenChar(char c) {
  const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return (u >= 'A' && u <= 'Z') || u == '_';
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

bool TScript::ReadScript(const std::string& sourceDir) {
  const std::string path = sourceDir + "setup.inf";
  if (!platform::FileExists(path)) {
    valid_ = false;
    return false;
  }
  return ReadSettings(platform::IniFile::Load(path));
}

bool TScript::ReadSettings(const platform::IniFile& ini) {
  ini_ = ini;
  valid_ = true;
  Problem.clear();

  Logo = ReadKey("Logo");
  Company = ReadKey("Company");
  AppName = ReadRequiredKey("Name");
  Directory = ExpandHome(SlashPath(ReadRequiredKey("Directory")));
  Exename = ReadRequiredKey("Exename");
  Files = ReadKey("Files");
  CheckedFiles = ReadKey("CheckedFiles");
  OptionalFiles = ReadKey("OptionalFiles");
  ShortCuts = ReadRequiredKey("ShortCuts");
  LicenseFile = ReadKey("LicenseFile");
  if (!LicenseFile.empty()) LicenseFile = platform::ExtractFileName(LicenseFile);

  RegisterUninstall = ReadSwitch("Uninstall", "YES");
  AddToStartup = ReadSwitch("AddToStartup", "NO");
  StartNow = ReadSwitch("StartNow", "NO");

  Url = ReadKey("Url");
  return valid_;
}

std::string TScript::ReadKey(const char* key) {
  if (!valid_) return {};
  if (ini_.IsCut(kSection, key)) {
    valid_ = false;
    Problem = std::string("The installation settings file is invalid: the value of \"") + key +
              "\" is longer than " + std::to_string(platform::IniFile::MaxValueLength) +
              " characters";
    return {};
  }
  return ExpandPlaceholders(ini_.ReadString(kSection, key, ""));
}

std::string TScript::ReadRequiredKey(const char* key) {
  std::string value = ReadKey(key);
  if (value.empty()) valid_ = false;
  return value;
}

// "~" and "~/..." stand for the home folder, as in a shell.
std::string TScript::ExpandHome(const std::string& path) const {
  if (HomeFolder.empty() || HomeFolder.front() != '/') return path;
  if (path == "~") return HomeFolder;
  if (path.rfind("~/", 0) != 0) return path;
  const std::string home = HomeFolder.back() == '/' ? HomeFolder : HomeFolder + "/";
  return home + path.substr(2);
}

bool TScript::ReadSwitch(const char* key, const char* fallback) const {
  return Upper(ini_.ReadString(kSection, key, fallback)) == "YES";
}

std::string TScript::ExpandPlaceholders(const std::string& text) const {
  std::string s = text;
  // Every replacement removes one "#" and adds none but those of the values, which are
  // themselves already expanded, so values holding "#" are taken as they are.
  std::size_t from = 0;
  for (;;) {
    const std::size_t hash = s.find('#', from);
    if (hash == std::string::npos) return s;
    std::size_t end = hash + 1;
    while (end < s.size() && IsTokenChar(s[end])) ++end;
    const std::string token = Upper(s.substr(hash, end - hash));
    std::string value;
    if (token == "#APP_NAME")
      value = AppName;
    else if (token == "#COMPANY")
      value = Company;
    else if (token == "#DEFAULT_DIRECTORY")
      value = Directory;
    else if (token == "#PROGRAM_FILES")
      value = ProgramFiles;
    else
      value = "<error>";
    s.replace(hash, end - hash, value);
    from = hash + value.size();
  }
}

std::string NextWord(std::string& list) {
  if (list.empty()) return {};
  std::string word;
  std::string rest;
  if (list.front() == '"') {
    const std::size_t close = list.find('"', 1);
    if (close == std::string::npos) {
      word = list.substr(1);
    } else {
      word = list.substr(1, close - 1);
      rest = list.substr(close + 1);
    }
  } else {
    const std::size_t space = list.find(' ');
    if (space == std::string::npos) {
      word = list;
    } else {
      word = list.substr(0, space);
      rest = list.substr(space + 1);
    }
  }
  list = platform::TrimBlanks(rest);
  return word;
}

int CountWords(std::string list) {
  int n = 0;
  while (!list.empty()) {
    NextWord(list);
    ++n;
  }
  return n;
}

std::string Quoted(const std::string& word) {
  return "\"" + word + "\"";
}

std::string SlashPath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

}  // namespace ombrix::setup
