#include "setup/Lines.h"

namespace ombrix::setup {

std::vector<TLine> ConfirmLines(const std::string& directoryText, const TInstallOptions& options,
                                bool startNow) {
  std::vector<TLine> lines;
  lines.emplace_back("Installation Directory:", lkNormal);
  lines.emplace_back("  " + directoryText, lkNote);
  lines.emplace_back("Start Menu Shortcuts:", lkNormal);
  if (!options.AddShortCuts)
    lines.emplace_back("  Will not be added", lkNote);
  else if (options.Common)
    lines.emplace_back("  Will be added for all users of this computer", lkNote);
  else
    lines.emplace_back("  Will be created for the current user only", lkNote);
  if (options.AddToStartup)
    lines.emplace_back("  Will also be added to the current user's Startup folder", lkNote);
  if (startNow)
    lines.emplace_back("The application will be started when the install completes", lkNormal);
  return lines;
}

std::vector<std::string> WrapText(const std::string& text, int limit,
                                  const std::function<int(const std::string&)>& width) {
  if (width(text) <= limit) return {text};
  std::vector<std::string> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = text.find(' ', start);
    words.push_back(text.substr(start, space - start));
    if (space == std::string::npos) break;
    start = space + 1;
  }
  std::vector<std::string> lines;
  std::string line = words.front();
  for (std::size_t i = 1; i < words.size(); ++i) {
    // A line of blanks so far is indentation: it stays with the word that follows.
    const bool blank = line.find_first_not_of(' ') == std::string::npos;
    if (!blank && width(line + " " + words[i]) > limit) {
      lines.push_back(line);
      line = words[i];
    } else {
      line += " " + words[i];
    }
  }
  lines.push_back(line);
  return lines;
}

TErrorTexts ErrorTexts(const std::string& message, const std::string& appName, bool canceled,
                       bool uninstallMode) {
  const std::string word = canceled ? "Canceled" : "Error";
  const std::string exitLine = "Click Exit to exit this program.";
  if (uninstallMode) return {"Uninstall " + word, message + ".\n\n" + exitLine};
  return {"Installation " + word,
          message + ".\n\n" + appName +
              " was not successfully installed.  You must run this setup program again to "
              "complete the installation.\n\n" +
              exitLine};
}

}  // namespace ombrix::setup
