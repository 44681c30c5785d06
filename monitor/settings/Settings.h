// The monitor's settings: one live record read by every subsystem, a working copy for the
// settings dialog, and their file.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace ombrix {

// Colour levels of one resource. The scale rises (bigger is worse) when Yellow < Red and
// falls otherwise; Green is the best end of the scale, Max the largest level allowed.
struct TThresholdLevels {
  std::int32_t Green = 0;
  std::int32_t Yellow = 0;
  std::int32_t Red = 0;
  std::int32_t Max = 0;
  bool operator==(const TThresholdLevels&) const = default;
};

struct TSettings {
  std::int32_t Interval = 2000;
  bool Smooth = true;
  std::int32_t SmoothCount = 5;
  bool SmoothChanged = false;
  bool GetHostNames = true;
  bool LogProcesses = false;
  bool ShowPseudoProcesses = false;
  bool IncludeOtherIos = true;
  bool AlwaysOnTop = false;
  bool DiskInuseTrace = false;
  TThresholdLevels CpuInuse{0, 75, 90, 100};
  TThresholdLevels CpuQueueDepth{0, 6, 9, 255};
  TThresholdLevels MemoryInuse{0, 85, 98, 100};
  TThresholdLevels MemoryMBytes{1024, 25, 5, 1024};
  TThresholdLevels DiskBusy{0, 50, 85, 100};
  TThresholdLevels DiskQueueDepth{0, 2, 5, 255};
  TThresholdLevels NetworkBusy{0, 5, 25, 100};
  // Bits per second of an adapter that reports no speed of its own.
  std::int64_t AssumedBandwidth = 1000000000;
  // Days the history keeps; 0 records none.
  std::int32_t HistoryDays = 7;
  std::int32_t Width = 587;
  std::int32_t Height = 415;
  bool operator==(const TSettings&) const = default;
};

class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The live record. The event handlers on the kernel trace's thread read it (smoothing,
// host names) under ModelLock; so the main thread, the only one that changes it, does so
// only while holding ModelLock (ReplaceSettings, or the lock around LoadSettings), and
// reads it without.
extern TSettings Settings;
extern TSettings EditSettings;  // the settings dialog's working copy

// The program whose settings file is used; empty means the running program. The text
// front end sets it to the monitor beside it, so both share one file.
extern std::string SettingsOwner;

// Fills Settings from the settings file; MemoryLimitMB (<= 0 means 1024) is the largest
// level of MemoryMBytes. Never fails: what cannot be read takes its default. Returns what
// the user is to be told once: empty, or why a settings file that is there could not be
// read (every field then has its default).
std::string LoadSettings(std::int32_t MemoryLimitMB);
// Writes Settings to the settings file; raises ESettingsError "Unable to write to <path>",
// also when the file is there but cannot be read (it is then left as it is).
void SaveSettings();

// The same against a named file, for callers and tests that choose the file themselves.
std::string LoadSettingsFrom(const std::string& fileName, std::int32_t MemoryLimitMB);
void SaveSettingsTo(const std::string& fileName);

}  // namespace ombrix
