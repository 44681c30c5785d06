#include "platform/linux/Mounts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/linux/Files.h"
#include "platform/linux/Handle.h"
#include "platform/linux/ProcText.h"

namespace platform::os {
namespace {

bool ParseWhole(std::string_view text, std::uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "MAJ:MIN", as mountinfo and the dev files of /sys write a device.
bool ParseDevice(std::string_view text, std::uint32_t& major, std::uint32_t& minor) {
  const std::size_t colon = text.find(':');
  return colon != std::string_view::npos && ParseWhole(text.substr(0, colon), major) &&
         ParseWhole(text.substr(colon + 1), minor);
}

// The kernel's name of a device node (/dev/vdb2 -> vdb2) looked up in /sys/class/block.
bool DeviceOfKernelName(std::string_view source, int sysFd, std::uint32_t& major,
                        std::uint32_t& minor) {
  const std::string_view name = source.substr(source.rfind('/') + 1);
  if (name.empty() || name == "." || name == "..") return false;
  const std::string path = "class/block/" + std::string(name) + "/dev";
  FileReader file;
  std::string_view text = file.ReadAt(sysFd, path.c_str());
  return ParseDevice(TakeLine(text), major, minor);
}

std::vector<std::string> SortedBlockDevices(const std::string& sysRoot) {
  std::vector<std::string> names;
  DirStream folder(sysRoot + "/block");
  while (const dirent* entry = folder.Next())
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::string UnescapeMountPath(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
        s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  while (!text.empty()) {
    std::string_view line = TakeLine(text);
    // The optional fields end at a lone "-"; blanks inside paths are escaped.
    const std::size_t dash = line.find(" - ");
    if (dash == std::string_view::npos) continue;
    std::string_view tail = line.substr(dash + 3);
    line = line.substr(0, dash);
    MountEntry m;
    const std::string_view id = NextToken(line);
    NextToken(line);  // parent
    const std::string_view device = NextToken(line);
    const std::string_view root = NextToken(line);
    const std::string_view point = NextToken(line);
    NextToken(tail);  // file system type
    const std::string_view source = NextToken(tail);
    if (!ParseWhole(id, m.MountId) || !ParseDevice(device, m.Major, m.Minor) || point.empty())
      continue;
    m.Root = UnescapeMountPath(root);
    m.MountPoint = UnescapeMountPath(point);
    m.Source = UnescapeMountPath(source);
    mounts.push_back(std::move(m));
  }
  return mounts;
}

bool BackingBlockDevice(const MountEntry& mount, int sysFd, std::uint32_t& major,
                        std::uint32_t& minor) {
  char path[48];
  std::snprintf(path, sizeof path, "dev/block/%u:%u", mount.Major, mount.Minor);
  if (mount.Major != 0 && faccessat(sysFd, path, F_OK, 0) == 0) {
    major = mount.Major;
    minor = mount.Minor;
    return true;
  }
  if (!mount.Source.starts_with('/')) return false;
  struct stat node {};
  if (stat(mount.Source.c_str(), &node) != 0)  // no such node here: another mount namespace
    return DeviceOfKernelName(mount.Source, sysFd, major, minor);
  if (!S_ISBLK(node.st_mode)) return false;
  major = ::major(node.st_rdev);
  minor = ::minor(node.st_rdev);
  return true;
}

std::uint32_t DiskNumberOf(const std::string& sysRoot, std::uint32_t major, std::uint32_t minor) {
  const std::string sys =
      sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
  std::string target = ReadLink(sys);
  struct stat info {};
  const std::size_t parent = target.rfind('/');
  // A partition's folder lies inside its disk's.
  if (stat((sys + "/partition").c_str(), &info) == 0 && parent != std::string::npos)
    target.resize(parent);
  const std::string disk = target.substr(target.rfind('/') + 1);
  const auto names = SortedBlockDevices(sysRoot);
  const auto found = std::find(names.begin(), names.end(), disk);
  return static_cast<std::uint32_t>(found == names.end() ? 0 : found - names.begin());
}

}  // namespace platform::os
