#include "monitor/network/PortNames.h"

#include <charconv>
#include <fstream>

#include "platform/paths/Paths.h"

namespace ombrix {

TPortNames PortNames;

const std::string& TPortNames::Name(std::uint16_t port) const {
  static const std::string none;
  const auto found = names_.find(port);
  return found == names_.end() ? none : found->second;
}

std::int64_t TPortNames::Bytes() const {
  std::int64_t bytes = 0;
  for (const auto& [port, name] : names_) bytes += static_cast<std::int64_t>(name.size());
  return bytes;
}

namespace {

// Blanks and control characters, as the file's trimming counts them.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Decimal port number; 0 when the text is not a number or out of range.
std::uint32_t ParsePort(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

}  // namespace

bool ParsePortLine(std::string_view line, std::uint16_t& port, std::string& name) {
  std::string_view rest = Trim(line);
  if (rest.empty() || rest.front() == '#') return false;
  while (!rest.empty()) {
    // Only the space separates tokens; the last token is the whole remainder.
    const std::size_t space = rest.find(' ');
    const std::string_view token = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : Trim(rest.substr(space + 1));
    if (EndsWith(token, "/tcp") || EndsWith(token, "/udp")) {
      const std::uint32_t value = ParsePort(token.substr(0, token.size() - 4));
      if (value < 1 || value >= PortCount) return false;
      port = static_cast<std::uint16_t>(value);
      name.assign(rest);
      return true;
    }
  }
  return false;
}

void LoadPortNamesFrom(const std::string& fileName) {
  PortNames[0] = "Non-TCP Packets";
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return;
  std::string line;
  std::uint16_t port = 0;
  std::string name;
  // A line ends at LF; a CR before it is trimmed away with the other control characters.
  while (std::getline(in, line)) {
    if (ParsePortLine(line, port, name) && !name.empty() && PortNames.Name(port).empty())
      PortNames[port] = name;
  }
}

void LoadPortNames() {
  LoadPortNamesFrom(platform::ProgramDir() + "ports.txt");
}

}  // namespace ombrix
