// Any record to every handler: the first bytes choose the event type and header process id,
// the rest is the event data with whatever length it has.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "monitor/kerneltrace/EventHandlers.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"

namespace {

struct Model {
  Model() : handlers(tables, ip) {
    ip.LocalAddresses = {0xC0000202};
    tables.FindOrCreateProcess(100, "known");
    tables.FindOrCreateSocket(100, 0x08080808, 53);
    tables.FindOrCreateFile(100, 7);
  }
  ombrix::TEntityTables tables;
  ombrix::TIpHelper ip;
  ombrix::TEventHandlers handlers;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Model* model = new Model();
  if (size < 5) return 0;
  platform::EVENT_TRACE e{};
  e.Header.Class.Type = data[0];
  std::memcpy(&e.Header.ProcessId, data + 1, 4);
  std::vector<std::uint8_t> mof(data + 5, data + size);  // exactly as long as it claims
  e.MofData = mof.empty() ? nullptr : mof.data();
  e.MofLength = static_cast<std::uint32_t>(mof.size());
  auto& h = model->handlers;
  h.DiskIoEvent(&e);
  h.FileIoEvent(&e);
  h.ProcessEvent(&e);
  h.NetworkEvent(&e);
  h.RegistryEvent(&e);
  if (!ombrix::ModelLock.try_lock()) std::abort();  // every handler let go of the lock
  ombrix::ModelLock.unlock();
  // Keep the tables from growing without end over a long run.
  if (model->tables.Processes.size() > 5000) {
    delete model;
    model = new Model();
  }
  return 0;
}
