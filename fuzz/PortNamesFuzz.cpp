// Any bytes as ports.txt lines: the parser never crashes, a port it names is in range, and
// the name is trimmed text taken from the end of that line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "monitor/network/PortNames.h"

namespace {

bool Blank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

void CheckLine(std::string_view line) {
  std::uint16_t port = 0;
  std::string name;
  if (!ombrix::ParsePortLine(line, port, name)) return;
  if (port == 0) std::abort();
  if (!name.empty() && (Blank(name.front()) || Blank(name.back()))) std::abort();
  while (!line.empty() && Blank(line.back())) line.remove_suffix(1);
  if (!line.ends_with(name)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    CheckLine(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return 0;
}
