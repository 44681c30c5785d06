// Any bytes as a history file: reading it as the History view and the text front end do,
// then recording, folding and dropping in it as the recorder does, never crash; what cannot
// be read raises.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "monitor/history/HistoryStore.h"

namespace {

constexpr std::int64_t Now = 1713999960000;

const std::string& FilePath() {
  static const std::string path = [] {
    std::string dir = (std::filesystem::temp_directory_path() / "fuzz-history-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    return dir + "/Ombrix.history";
  }();
  return path;
}

void WriteFile(const std::uint8_t* data, std::size_t size) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((FilePath() + suffix).c_str());
  std::FILE* file = std::fopen(FilePath().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

void Read() {
  const ombrix::THistoryStore store(FilePath(), ombrix::THistoryStore::TAccess::Read);
  store.Samples(0, Now * 2, true);
  store.Chart(Now - 7 * ombrix::DayMs, Now, 60000);
  store.Nearest(Now, 0, Now * 2);
}

void Record() {
  ombrix::THistoryStore store(FilePath(), ombrix::THistoryStore::TAccess::Write);
  ombrix::THistorySample s;
  s.Time = Now;
  s.Span = 2000;
  s.Consumers = {{ombrix::TConsumerKind::File, 1, "/f", "p", 10}};
  store.Append(s);
  store.Fold(Now + 2 * ombrix::DayMs, 5);
  store.Drop(Now - ombrix::DayMs);
  store.DropUnusedNames();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteFile(data, size);
  try {
    Read();
  } catch (const std::exception&) {
  }
  try {
    Record();
  } catch (const std::exception&) {
  }
  return 0;
}
