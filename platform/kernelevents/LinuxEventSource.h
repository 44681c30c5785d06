// The primary Linux backend: process starts from the process connector (or /proc listings),
// TCP traffic from socket diagnostics, file I/O and names from the open files in /proc. Needs
// no compiler toolchain at run time; as root it sees every process.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/kernelevents/EventSource.h"
#include "platform/linux/Wake.h"

namespace platform {

class ProcConnector;
class ProcessScan;
class TcpTraffic;
class FileActivity;

class LinuxEventSource final : public EventSource {
 public:
  // Polls of the diagnostics and of /proc happen every pollPeriodMs.
  explicit LinuxEventSource(int pollPeriodMs = 500);
  ~LinuxEventSource() override;  // where the sources' types are whole

  SourceOpenResult Open(std::uint32_t enableFlags) override;
  void Poll(std::vector<EventRecord>& out) override;
  void Wake() override;

 private:
  void PollPeriodic(std::vector<EventRecord>& out);

  int pollPeriodMs_;
  os::WakeEvent wake_;
  std::int64_t nextPollMs_ = 0;
  std::unique_ptr<ProcConnector> connector_;
  std::unique_ptr<ProcessScan> scan_;
  std::unique_ptr<TcpTraffic> tcp_;
  std::unique_ptr<FileActivity> files_;
};

}  // namespace platform
