// The kernel event handlers: each turns one event record into updates of the statistics
// model. They run on the trace's consumer thread and hold ModelLock for the whole event.
#pragma once
#include <cstdint>

#include "platform/kernelevents/EventTrace.h"

namespace ombrix {

class TEntityTables;
class TIpHelper;
class TKernelEventTrace;

class TEventHandlers {
 public:
  TEventHandlers(TEntityTables& tables, const TIpHelper& ipHelper)
      : tables_(tables), ipHelper_(ipHelper) {}

  void DiskIoEvent(const platform::EVENT_TRACE* event);
  void FileIoEvent(const platform::EVENT_TRACE* event);
  void ProcessEvent(const platform::EVENT_TRACE* event);
  // TCP and UDP alike.
  void NetworkEvent(const platform::EVENT_TRACE* event);
  void RegistryEvent(const platform::EVENT_TRACE* event);

  // Puts the handlers into the trace's slots: disk, file, process, one network handler for
  // both TCP and UDP, registry.
  void Install(TKernelEventTrace& trace);

 private:
  TEntityTables& tables_;
  const TIpHelper& ipHelper_;
};

// Where the image name of a process start record begins: after the SID that follows the
// SID pointer and its attributes, or right after the attributes when the pointer is empty.
// Returns false when the record is too short to tell.
bool ImageNameOffset(const std::uint8_t* data, std::uint32_t length, std::uint32_t& offset);

}  // namespace ombrix
