// Any bytes as an installation script: reading it, expanding placeholders and taking words
// off every list never crash, leave no "#" behind and always end; a script that reads as
// valid has no value that was cut, and its Directory no "~/" left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "setup/Script.h"

namespace {

void TakeAllWords(std::string list) {
  while (!list.empty()) {
    const std::size_t before = list.size();
    const std::string word = ombrix::setup::NextWord(list);
    if (list.size() >= before || word.size() > before) std::abort();  // each word shortens
  }
  if (!ombrix::setup::NextWord(list).empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ombrix::setup::TScript script;
  script.ProgramFiles = "/opt";
  script.HomeFolder = "/home/u";
  const platform::IniFile ini = platform::IniFile::Parse(text);
  const bool valid = script.ReadSettings(ini);
  if (valid && (script.AppName.empty() || script.Directory.empty() || script.Exename.empty() ||
                script.ShortCuts.empty()))
    std::abort();
  if (valid && (!script.Problem.empty() || script.Directory.rfind("~/", 0) == 0 ||
                ini.IsCut("Settings", "OptionalFiles")))
    std::abort();
  for (const std::string* value : {&script.AppName, &script.Company, &script.Directory,
                                   &script.Files, &script.ShortCuts, &script.Url}) {
    if (value->find('#') != std::string::npos) std::abort();
  }
  if (script.ExpandPlaceholders(std::string(text)).find('#') != std::string::npos) std::abort();
  for (const std::string& list : {script.Files, script.CheckedFiles, script.OptionalFiles,
                                  script.ShortCuts, std::string(text)})
    TakeAllWords(list);
  return 0;
}
