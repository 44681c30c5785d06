#include "platform/kernelevents/LinuxEventSource.h"

#include <poll.h>

#include <cerrno>

#include "platform/kernelevents/FileActivity.h"
#include "platform/kernelevents/ProcessStarts.h"
#include "platform/kernelevents/TcpTraffic.h"
#include "platform/linux/Processes.h"

namespace platform {

using os::MonotonicMs;

LinuxEventSource::LinuxEventSource(int pollPeriodMs) : pollPeriodMs_(pollPeriodMs) {}

LinuxEventSource::~LinuxEventSource() = default;

SourceOpenResult LinuxEventSource::Open(std::uint32_t enableFlags) {
  SourceOpenResult result;
  bool requested = false;
  const auto note = [&](int error) {
    requested = true;
    if (error == 0)
      result.Opened = true;
    else if (result.FirstError == 0)
      result.FirstError = static_cast<std::uint32_t>(error);
  };
  if (!wake_.Valid()) return {false, static_cast<std::uint32_t>(errno)};
  if (enableFlags & EVENT_TRACE_FLAG_PROCESS) {
    connector_ = std::make_unique<ProcConnector>();
    const int error = connector_->Open();
    if (error != 0) {
      // Without the right to listen, new processes still show up in /proc.
      connector_.reset();
      scan_ = std::make_unique<ProcessScan>();
      scan_->Open();
      note(error);
      result.Opened = true;
    } else {
      note(0);
    }
  }
  if (enableFlags & EVENT_TRACE_FLAG_NETWORK_TCPIP) {
    tcp_ = std::make_unique<TcpTraffic>();
    const int error = tcp_->Open();
    if (error != 0) tcp_.reset();
    note(error);
  }
  const bool disk = enableFlags & EVENT_TRACE_FLAG_DISK_IO;
  const bool names = enableFlags & EVENT_TRACE_FLAG_DISK_FILE_IO;
  if (disk || names) {
    files_ = std::make_unique<FileActivity>(disk, names);
    const int error = files_->Open();
    if (error != 0) files_.reset();
    note(error);
  }
  // Registry and thread events have no source here; asking for only those opens nothing, but
  // is no failure either.
  if (!requested) result.Opened = true;
  nextPollMs_ = MonotonicMs() + pollPeriodMs_;
  return result;
}

void LinuxEventSource::PollPeriodic(std::vector<EventRecord>& out) {
  // One listing of /proc serves both scans: at thousands of processes it is not cheap.
  const std::vector<std::uint32_t> pids =
      scan_ || files_ ? os::ListPids() : std::vector<std::uint32_t>{};
  if (scan_) scan_->Poll(out, pids);
  if (tcp_) tcp_->Poll(out);
  if (files_) files_->Poll(out, pids);
}

void LinuxEventSource::Poll(std::vector<EventRecord>& out) {
  pollfd fds[3] = {{wake_.Fd(), POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
  if (connector_) fds[1].fd = connector_->Fd();
  if (tcp_) fds[2].fd = tcp_->DestroyFd();
  const std::int64_t wait = std::max<std::int64_t>(0, nextPollMs_ - MonotonicMs());
  const int ready = poll(fds, 3, static_cast<int>(wait));
  if (ready > 0) {
    if (fds[0].revents & POLLIN) {
      wake_.Clear();
      return;
    }
    // An overrun shows as an error on the socket; reading clears it and goes on.
    if (fds[1].revents & (POLLIN | POLLERR)) connector_->Read(out);
    if (fds[2].revents & (POLLIN | POLLERR)) tcp_->ReadDestroyed(out);
  }
  if (MonotonicMs() >= nextPollMs_) {
    PollPeriodic(out);
    nextPollMs_ = MonotonicMs() + pollPeriodMs_;
  }
}

void LinuxEventSource::Wake() {
  wake_.Set();
}

}  // namespace platform
