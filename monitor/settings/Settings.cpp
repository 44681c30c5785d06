#include "monitor/settings/Settings.h"

#include <charconv>
#include <cstdlib>
#include <utility>

#include "platform/inifile/IniFile.h"
#include "platform/paths/Paths.h"

namespace ombrix {

TSettings Settings;
TSettings EditSettings;
std::string SettingsOwner;

namespace {

constexpr const char* kSection = "Settings";

struct LevelsRow {
  TThresholdLevels TSettings::*Field;
  const char* Prefix;
  std::int32_t RedDefault;
  std::int32_t YellowDefault;
  std::int32_t Max;  // 0 for the row whose maximum is the memory limit
};

constexpr LevelsRow kLevelRows[] = {
    {&TSettings::CpuInuse, "CpuInuse", 90, 75, 100},
    {&TSettings::CpuQueueDepth, "CpuQueueDepth", 9, 6, 255},
    {&TSettings::MemoryInuse, "MemoryInuse", 98, 85, 100},
    {&TSettings::MemoryMBytes, "MemoryMBytes", 5, 25, 0},
    {&TSettings::DiskBusy, "DiskBusy", 85, 50, 100},
    {&TSettings::DiskQueueDepth, "DiskQueueDepth", 5, 2, 255},
    {&TSettings::NetworkBusy, "NetworkBusy", 25, 5, 100},
};

// A decimal or (longer than two characters, "0x"/"0X" prefix) hexadecimal 32-bit integer.
bool ParseInt32(const std::string& text, std::int32_t& out) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::uint32_t bits = 0;
    const auto r = std::from_chars(first + 2, last, bits, 16);
    if (r.ec != std::errc() || r.ptr != last) return false;
    out = static_cast<std::int32_t>(bits);  // 0xFFFFFFFF reads as -1
    return true;
  }
  if (first != last && *first == '+') ++first;
  const auto r = std::from_chars(first, last, out, 10);
  return r.ec == std::errc() && r.ptr == last && first != last;
}

bool ParseInt64(const std::string& text, std::int64_t& out) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto r = std::from_chars(first, last, out, 10);
  return r.ec == std::errc() && r.ptr == last && first != last;
}

constexpr std::int64_t kAssumedBandwidth = 1000000000;  // 1 Gbit/s
constexpr std::int32_t kHistoryDays = 7;

class Reader {
 public:
  explicit Reader(platform::IniFile ini) : ini_(std::move(ini)) {}

  std::int32_t Int(const char* key, std::int32_t fallback) const {
    const auto text = ini_.Read(kSection, key);
    std::int32_t value = 0;
    return text && ParseInt32(*text, value) ? value : fallback;
  }

  std::int32_t IntInRange(const char* key, std::int32_t fallback, std::int32_t low,
                          std::int32_t high) const {
    const std::int32_t v = Int(key, fallback);
    return (v < low || v > high) ? fallback : v;
  }

  std::int64_t Int64InRange(const char* key, std::int64_t fallback, std::int64_t low,
                            std::int64_t high) const {
    const auto text = ini_.Read(kSection, key);
    std::int64_t v = 0;
    return text && ParseInt64(*text, v) && v >= low && v <= high ? v : fallback;
  }

  // Anything but "false" in any letter case is true.
  bool Flag(const char* key, const char* fallback) const {
    const std::string text = ini_.ReadString(kSection, key, fallback);
    return !platform::EqualsIgnoreCase(text, "false");
  }

  TThresholdLevels Levels(const LevelsRow& row, std::int32_t memoryLimit) const {
    TThresholdLevels l;
    l.Max = row.Max != 0 ? row.Max : memoryLimit;
    const std::string prefix = row.Prefix;
    l.Red = IntInRange((prefix + "Red").c_str(), row.RedDefault, 0, l.Max);
    l.Yellow = IntInRange((prefix + "Yellow").c_str(), row.YellowDefault, 0, l.Max);
    l.Green = l.Red >= l.Yellow ? 0 : l.Max;
    return l;
  }

 private:
  platform::IniFile ini_;
};

class Writer {
 public:
  explicit Writer(platform::IniFile& ini) : ini_(ini) {}
  void Int(const std::string& key, std::int64_t v) { ini_.Write(kSection, key, std::to_string(v)); }
  void Flag(const char* key, bool v) { ini_.Write(kSection, key, v ? "True" : "False"); }

 private:
  platform::IniFile& ini_;
};

TSettings ReadSettings(const Reader& r, std::int32_t MemoryLimitMB) {
  TSettings s;
  s.Interval = r.IntInRange("Interval", 2000, 1000, 60000);
  s.Smooth = r.Flag("Smooth", "true");
  s.SmoothCount = r.IntInRange("SmoothCount", 5, 2, 60);
  s.SmoothChanged = false;
  s.GetHostNames = r.Flag("GetHostNames", "true");
  s.LogProcesses = r.Flag("LogProcesses", "false");
  s.ShowPseudoProcesses = r.Flag("ShowPseudoProcesses", "false");
  s.IncludeOtherIos = r.Flag("IncludeOtherIos", "true");
  s.AlwaysOnTop = r.Flag("AlwaysOnTop", "false");
  s.DiskInuseTrace = r.Flag("DiskInuseTrace", "false");
  for (const auto& row : kLevelRows) s.*row.Field = r.Levels(row, MemoryLimitMB);
  // From 1 kbit/s to 1 Tbit/s.
  s.AssumedBandwidth = r.Int64InRange("AssumedBandwidth", kAssumedBandwidth, 1000, 1000000000000);
  s.HistoryDays = r.IntInRange("HistoryDays", kHistoryDays, 0, 366);
  s.Width = r.Int("Width", 0);
  if (s.Width < 100) s.Width = 587;
  s.Height = r.Int("Height", 0);
  if (s.Height < 100) s.Height = 415;
  return s;
}

}  // namespace

std::string LoadSettingsFrom(const std::string& fileName, std::int32_t MemoryLimitMB) {
  if (MemoryLimitMB <= 0) MemoryLimitMB = 1024;
  platform::IniFile ini;
  std::string notice;
  try {
    ini = platform::IniFile::Open(fileName);
  } catch (const platform::IniReadError& e) {
    notice = std::string("Unable to read ") + e.what() + "; the default settings are used";
  }
  // One assignment of the whole record, for the readers on other threads (see Settings.h).
  Settings = ReadSettings(Reader(std::move(ini)), MemoryLimitMB);
  return notice;
}

// The whole new file is built in memory and replaces the old one in one step, so a failed
// save leaves the previous settings intact rather than half written.
void SaveSettingsTo(const std::string& fileName) {
  // A file that is there but cannot be read would lose its other sections: it is left alone.
  platform::IniFile ini;
  try {
    ini = platform::IniFile::Open(fileName);
  } catch (const platform::IniReadError&) {
    throw ESettingsError("Unable to write to " + fileName);
  }
  ini.EraseSection(kSection);
  Writer w(ini);
  const TSettings& s = Settings;
  if (s.Interval != 2000) w.Int("Interval", s.Interval);
  if (!s.Smooth) w.Flag("Smooth", false);
  if (s.SmoothCount != 5) w.Int("SmoothCount", s.SmoothCount);
  if (!s.GetHostNames) w.Flag("GetHostNames", false);
  if (s.LogProcesses) w.Flag("LogProcesses", true);
  if (s.ShowPseudoProcesses) w.Flag("ShowPseudoProcesses", true);
  if (!s.IncludeOtherIos) w.Flag("IncludeOtherIos", false);
  if (s.AlwaysOnTop) w.Flag("AlwaysOnTop", true);
  if (s.DiskInuseTrace) w.Flag("DiskInuseTrace", true);
  for (const auto& row : kLevelRows) {
    w.Int(std::string(row.Prefix) + "Red", (s.*row.Field).Red);
    w.Int(std::string(row.Prefix) + "Yellow", (s.*row.Field).Yellow);
  }
  if (s.AssumedBandwidth != kAssumedBandwidth) w.Int("AssumedBandwidth", s.AssumedBandwidth);
  if (s.HistoryDays != kHistoryDays) w.Int("HistoryDays", s.HistoryDays);
  w.Int("Width", s.Width);
  w.Int("Height", s.Height);
  try {
    ini.Save(fileName);
  } catch (const platform::IniWriteError&) {
    throw ESettingsError("Unable to write to " + fileName);
  }
}

std::string LoadSettings(std::int32_t MemoryLimitMB) {
  return LoadSettingsFrom(platform::SettingsFile(SettingsOwner).Load, MemoryLimitMB);
}

void SaveSettings() {
  const std::string fileName = platform::SettingsFile(SettingsOwner).Save;
  platform::ForceDirectories(platform::ExtractFilePath(fileName));
  SaveSettingsTo(fileName);
}

}  // namespace ombrix
