// The primary Linux backend: process starts from the process connector (or /proc listings),
// TCP traffic from socket diagnostics, file I/O and names from the open files in /proc. Needs
// no compiler toolchain at run time; as root it sees every process.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/kernelevents/EventSource.h"
#include "platform/linux/Wake.h"

namespace platform {

class TProcConnector;
class TProcessScan;
class TTcpTraffic;
class TFileActivity;

class TLinuxEventSource final : public TEventSource {
 public:
  // Polls of the diagnostics and of /proc happen every pollPeriodMs.
  explicit TLinuxEventSource(int pollPeriodMs = 500);
  ~TLinuxEventSource() override;  // where the sources' types are whole

  TSourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(std::vector<TEventRecord>& out) override;
  void Wake() override;

 private:
  void PollPeriodic(std::vector<TEventRecord>& out);

  int pollPeriodMs_;
  os::WakeEvent wake_;
  std::int64_t nextPollMs_ = 0;
  std::unique_ptr<TProcConnector> connector_;
  std::unique_ptr<TProcessScan> scan_;
  std::unique_ptr<TTcpTraffic> tcp_;
  std::unique_ptr<TFileActivity> files_;
};

}  // namespace platform
