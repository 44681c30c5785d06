// The program-wide settings for the length of a scope: the settings found on entry come back
// on every way out, a failed assertion's early return included.
#pragma once
#include "monitor/settings/Settings.h"

namespace ombrix::testing {

class ScopedSettings {
 public:
  ScopedSettings() : saved_(Settings) {}
  // Starts from start, a fresh TSettings{} for the defaults.
  explicit ScopedSettings(const TSettings& start) : saved_(Settings) { Settings = start; }
  ~ScopedSettings() { Settings = saved_; }
  ScopedSettings(const ScopedSettings&) = delete;
  ScopedSettings& operator=(const ScopedSettings&) = delete;

 private:
  TSettings saved_;
};

}  // namespace ombrix::testing
