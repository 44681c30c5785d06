// Any bytes as what the BPF event source reads from its ring buffer, and any text as a
// mountinfo table. Decoding never crashes, never reads past the event, and every record it
// makes keeps its class's layout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/kernelevents/bpf/BpfDecoder.h"

namespace {

platform::BpfSystem FuzzSystem() {
  platform::BpfSystem system;
  system.MountPoint = [](std::uint32_t device) {
    return device % 3 == 0 ? std::string() : "/mnt/" + std::to_string(device);
  };
  system.DiskNumber = [](std::uint32_t device) { return device % 7; };
  system.ProcessName = [](std::uint32_t pid) { return pid % 2 ? std::string("parent") : ""; };
  return system;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] == 'M') {
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    for (const auto& [device, point] : platform::ParseMountPoints(text))
      if (point.size() > text.size()) std::abort();  // unescaping only shortens
    return 0;
  }
  // A private copy of exactly the event's bytes, so that reading past them is caught.
  const std::vector<std::uint8_t> event(data + 1, data + size);
  // The second decoder sees one user's events only: held names and their release get fuzzed too.
  static platform::BpfDecoder everything(FuzzSystem(), 0xFFFFFFFF);
  static platform::BpfDecoder oneUser(FuzzSystem(), 0xFFFFFFFF, {false, 1000});
  std::vector<platform::EventRecord> out;
  (data[0] & 1 ? oneUser : everything).Decode(event.data(), event.size(), out);
  for (const platform::EventRecord& record : out) {
    if (record.Header.Guid == platform::DiskIoGuid &&
        record.Data.size() != platform::diskio::Length)
      std::abort();
    if ((record.Header.Guid == platform::TcpIpGuid || record.Header.Guid == platform::UdpIpGuid) &&
        record.Data.size() != platform::netio::Length)
      std::abort();
    if (record.Header.Guid == platform::ProcessGuid && record.Data.back() != 0) std::abort();
  }
  return 0;
}
