// Asynchronous reverse host-name lookup that completes on the main thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Handle of a pending lookup; 0 is none.
using LookupTask = std::uint32_t;

class HostLookup {
 public:
  // Called on the thread that created the service, once per lookup that was not cancelled:
  // error 0 with the host name, or a non-zero error with an empty name.
  using Completion = std::function<void(LookupTask task, int error, const std::string& name)>;

  virtual ~HostLookup() = default;
  // Installs the one receiver of completions (the table that owns the service).
  virtual void SetCompletion(Completion completion) = 0;
  // Start and Cancel may come from any thread, one call at a time (the caller serialises
  // them). Starts a lookup of an IPv4 address in host byte order; 0 when it could not start.
  virtual LookupTask Start(std::uint32_t address) = 0;
  // The lookup's answer, should one still come, is dropped.
  virtual void Cancel(LookupTask task) = 0;
};

// getnameinfo on worker threads, completions queued to the creating thread's event loop
// (which must be a Qt thread with an event loop for them to arrive). Destroying it never
// waits for a lookup in progress.
std::unique_ptr<HostLookup> CreateHostLookup();

// The reverse lookup itself, blocking: the host name of an IPv4 address (host byte order),
// or an empty text when there is none. A numeric answer does not count as a name.
std::string ReverseLookup(std::uint32_t address, int& error);

}  // namespace platform
