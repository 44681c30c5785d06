#include "probe/Access.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "platform/linux/Files.h"

namespace ombrix::probe {
namespace {

using platform::probe::ViewScope;

// The value of one option in a comma-separated list; nothing when absent.
std::optional<std::string_view> Option(std::string_view options, std::string_view key) {
  while (!options.empty()) {
    const std::size_t comma = std::min(options.find(','), options.size());
    const std::string_view item = options.substr(0, comma);
    if (item.size() > key.size() && item.starts_with(key) && item[key.size()] == '=')
      return item.substr(key.size() + 1);
    options.remove_prefix(std::min(comma + 1, options.size()));
  }
  return std::nullopt;
}

bool Member(const CallerFacts& caller, gid_t group) {
  return std::find(caller.Groups.begin(), caller.Groups.end(), group) != caller.Groups.end();
}

// Whether /proc shows other users' processes to this caller.
bool ProcShowsOthers(const CallerFacts& caller) {
  const auto hidepid = Option(caller.ProcOptions, "hidepid");
  if (!hidepid || *hidepid == "0" || *hidepid == "off") return true;
  const auto gid = Option(caller.ProcOptions, "gid");
  gid_t value = 0;
  return gid && std::from_chars(gid->data(), gid->data() + gid->size(), value).ec == std::errc() &&
         Member(caller, value);
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (!line.empty()) {
    const std::size_t space = std::min(line.find(' '), line.size());
    if (space > 0) fields.push_back(line.substr(0, space));
    line.remove_prefix(std::min(space + 1, line.size()));
  }
  return fields;
}

}  // namespace

bool ProcHidesOthers(const CallerFacts& caller) {
  return caller.Uid != 0 && !ProcShowsOthers(caller);
}

ViewScope ScopeOf(const CallerFacts& caller) {
  if (caller.Uid == 0) return ViewScope::Everything;
  if (caller.Group && Member(caller, *caller.Group) && ProcShowsOthers(caller))
    return ViewScope::Everything;
  return ViewScope::OwnProcesses;
}

// A mountinfo line: id parent major:minor root point options [tags...] - type source super.
std::string ProcMountOptions(std::string_view mountinfo) {
  std::string options;
  while (!mountinfo.empty()) {
    const std::size_t end = std::min(mountinfo.find('\n'), mountinfo.size());
    const auto fields = Fields(mountinfo.substr(0, end));
    mountinfo.remove_prefix(std::min(end + 1, mountinfo.size()));
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || fields[4] != "/proc" || fields.end() - dash < 4) continue;
    if (dash[1] == "proc") options = std::string(dash[3]);  // the last mount on /proc wins
  }
  return options;
}

CallerFacts RunningCaller() {
  CallerFacts caller;
  caller.Uid = getuid();
  caller.Groups.push_back(getgid());
  const int count = getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> more(static_cast<std::size_t>(count));
    const int got = getgroups(count, more.data());
    if (got > 0) caller.Groups.insert(caller.Groups.end(), more.begin(), more.begin() + got);
  }
  if (const group* found = getgrnam("ombrix")) caller.Group = found->gr_gid;
  if (const auto mountinfo = platform::os::ReadWholeFile("/proc/self/mountinfo"))
    caller.ProcOptions = ProcMountOptions(*mountinfo);
  return caller;
}

}  // namespace ombrix::probe
