// Platform fakes installed for the length of a scope and taken out on every way out, so that
// a failed assertion never leaves one behind for the next test.
#pragma once
#include <string>

#include "platform/kernelevents/EventBackend.h"
#include "platform/kernelevents/EventTrace.h"

namespace ombrix::testing {

// The event tracing service the kernel logger sessions go to.
class ScopedEventTracing {
 public:
  explicit ScopedEventTracing(platform::TraceService* tracing) {
    platform::SetEventTracing(tracing);
  }
  ~ScopedEventTracing() { platform::SetEventTracing(nullptr); }
  ScopedEventTracing(const ScopedEventTracing&) = delete;
  ScopedEventTracing& operator=(const ScopedEventTracing&) = delete;
};

// The probe program and the event backend; afterwards the default probe, chosen as usual.
class ScopedProbe {
 public:
  explicit ScopedProbe(const std::string& path,
                       platform::EventBackend backend = platform::EventBackend::Automatic) {
    platform::SetProbePath(path);
    platform::SelectEventBackend(backend);
  }
  ~ScopedProbe() {
    platform::SelectEventBackend(platform::EventBackend::Automatic);
    platform::SetProbePath("");
  }
  ScopedProbe(const ScopedProbe&) = delete;
  ScopedProbe& operator=(const ScopedProbe&) = delete;
};

}  // namespace ombrix::testing
