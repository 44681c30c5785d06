// The texts of the wizard's two lists: the confirm list and the wrapping of long lines.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "setup/Installer.h"

namespace ombrix::setup {

using TLine = std::pair<std::string, TLineKind>;

std::vector<TLine> ConfirmLines(const std::string& directoryText, const TInstallOptions& options,
                                bool startNow);

// Breaks a text into lines no wider than limit where it can, at single spaces, so that runs
// of spaces survive; a word wider than the limit stays whole.
std::vector<std::string> WrapText(const std::string& text, int limit,
                                  const std::function<int(const std::string&)>& width);

// Milliseconds from then to now on a wrapping 32-bit tick count.
inline std::uint32_t TicksSince(std::uint32_t then, std::uint32_t now) {
  return now - then;
}

// The Error page's texts for a message.
struct TErrorTexts {
  std::string Title;
  std::string Text;
};
TErrorTexts ErrorTexts(const std::string& message, const std::string& appName, bool canceled,
                       bool uninstallMode);

}  // namespace ombrix::setup
