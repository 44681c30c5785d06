// Any bytes as what the Linux event sources read from the kernel: /proc/PID/stat text,
// fdinfo and mountinfo text and socket diagnostics answers. Parsing never crashes, and what it
// accepts is consistent with the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/kernelevents/EventRecord.h"
#include "platform/kernelevents/FileActivity.h"
#include "platform/kernelevents/TcpTraffic.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/ProcStat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t which = data[0] % 4;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (which) {
    case 0:
      if (const auto stat = platform::os::ParseProcStat(text)) {
        if (stat->Comm.size() >= text.size()) std::abort();  // comm lies inside the text
        platform::os::CompleteComm(stat->Comm, text);
      }
      break;
    case 1:
      platform::ParseFdInfo(text);
      platform::IsTrackedPath(text);
      // Unescaping only ever shortens a field.
      for (const auto& mount : platform::os::ParseMountInfo(text))
        if (mount.MountPoint.size() + mount.Source.size() >= text.size()) std::abort();
      break;
    case 2: {
      // Copied so that the decoder sees a buffer of exactly the claimed length.
      const std::vector<std::uint8_t> message(data + 1, data + size);
      platform::DecodeTcpDiag(message.data(), message.size());
      break;
    }
    default: {
      const std::vector<std::uint8_t> name = platform::Utf16LeZ(text);
      if (name.size() % 2 != 0 || name.size() < 2 || name.size() > 2 * text.size() + 2)
        std::abort();
      break;
    }
  }
  return 0;
}
