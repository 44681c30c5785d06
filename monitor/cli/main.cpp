// ombrix-cli: the text front end over the monitor's core.
//
// For now it shows the settings in force and the memory manager's state; the sampling
// cycle joins it when the core's tick is in place.
#include <cstdio>
#include <exception>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/model/Average.h"
#include "monitor/settings/Settings.h"
#include "platform/paths/Paths.h"

int main() {
  using namespace ombrix;
  try {
    SettingsOwner = platform::ProgramDir() + "Ombrix";
    LoadSettings(0);
    ApplySmoothing();
    const auto where = platform::SettingsFile(SettingsOwner);
    std::printf("Ombrix %s\n", TimeStampText().c_str());
    std::printf("Settings file: %s\n", where.Load.c_str());
    std::printf("Interval: %d ms, smoothing over %d intervals\n", Settings.Interval,
                SmoothingWindow());
    std::printf("Heap Info:%s\n", HeapStatusLine().c_str());
    std::printf("The sampling cycle is not built yet; nothing more to show.\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
