#include "platform/linux/ProcText.h"

#include <algorithm>
#include <charconv>

namespace platform::os {

std::uint64_t NextNumber(std::string_view& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  std::uint64_t v = 0;
  const auto r = std::from_chars(s.data() + i, s.data() + s.size(), v);
  if (r.ec != std::errc{}) {
    while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\n') ++i;
    s.remove_prefix(i);
    return 0;
  }
  s.remove_prefix(static_cast<std::size_t>(r.ptr - s.data()));
  return v;
}

std::uint64_t KeyedValue(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    std::string_view line = TakeLine(text);
    if (line.size() > key.size() && line.starts_with(key) &&
        (line[key.size()] == ':' || line[key.size()] == ' ' || line[key.size()] == '\t')) {
      line.remove_prefix(key.size() + (line[key.size()] == ':' ? 1 : 0));
      return NextNumber(line);
    }
  }
  return 0;
}

std::string_view NextToken(std::string_view& s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  const std::size_t end = std::min(s.find_first_of(" \t\n"), s.size());
  const std::string_view token = s.substr(0, end);
  s.remove_prefix(end);
  return token;
}

std::string_view TakeLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

std::optional<std::uint64_t> TcpSegments(std::string_view snmp) {
  std::string_view names, values;
  while (!snmp.empty() && values.empty()) {
    const std::string_view line = TakeLine(snmp);
    if (!line.starts_with("Tcp: ")) continue;
    (names.empty() ? names : values) = line;
  }
  if (values.empty()) return std::nullopt;
  std::uint64_t sum = 0;
  int found = 0;
  for (std::string_view name = NextToken(names), value = NextToken(values); !name.empty();
       name = NextToken(names), value = NextToken(values)) {
    if (name != "InSegs" && name != "OutSegs") continue;
    sum += NextNumber(value);
    ++found;
  }
  if (found != 2) return std::nullopt;
  return sum;
}

}  // namespace platform::os
