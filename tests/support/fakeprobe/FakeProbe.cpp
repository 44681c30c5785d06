// A stand-in for ombrix-probe that misbehaves on purpose, for the tests of the monitor's side of
// the stream. The probe gets no options and no environment, so the behaviour is chosen by the
// name it is started under (tests link it under these names):
//   probe-serves    Ready, two records, a drop count of 5, then serves until the end of the stream
//   probe-garbage   Ready, two records, then a frame of an unknown version
//   probe-exits     Ready, two records, then exit status 7
//   probe-refuses   Failure with EPERM
//   probe-silent    reads the hello and never answers
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/kernelevents/EventRecord.h"
#include "platform/kernelevents/ProbeStream.h"

namespace {

using namespace platform;

void Send(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(1, bytes.data() + done, bytes.size() - done);
    if (n <= 0) _exit(9);
    done += static_cast<std::size_t>(n);
  }
}

void SendReadyAndRecords() {
  Send(probe::ReadyFrame({0, probe::ViewScope::OwnProcesses}));
  std::vector<std::uint8_t> bytes;
  probe::AppendRecordsFrames(
      {NetworkRecord(TcpIpGuid, EVENT_TYPE_NET_SEND, 42, 1000, 0x7F000001, 0x7F000001, 80, 4000),
       FileNameRecord(42, 3, "/srv/data.bin")},
      bytes);
  Send(bytes);
}

void WaitForTheEnd() {
  char buffer[256];
  while (read(0, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

int main(int, char** argv) {
  std::string name = argv[0];
  name = name.substr(name.rfind('/') + 1);
  char hello[16];
  if (read(0, hello, sizeof hello) != sizeof hello) return 8;  // header and payload
  if (name == "probe-refuses") {
    Send(probe::FailureFrame({EPERM, std::strerror(EPERM)}));
    return 1;
  }
  if (name == "probe-silent") {
    WaitForTheEnd();
    return 0;
  }
  SendReadyAndRecords();
  if (name == "probe-exits") return 7;
  if (name == "probe-garbage") {
    Send({0, 0, 0, 0, 4, 0, 99, 0});
    WaitForTheEnd();
    return 0;
  }
  Send(probe::DroppedFrame(5));
  WaitForTheEnd();
  return 0;
}
