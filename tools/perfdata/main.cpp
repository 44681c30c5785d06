// ombrix-perfdata: a developer tool around the performance data provider and reader.
//   ombrix-perfdata capture N DIR [--interval MS] [--query TEXT] [--max-processes K]
//   ombrix-perfdata dump [FILE]
//   ombrix-perfdata values FILE1 FILE2
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "monitor/diagnostics/PerfDataDump.h"
#include "monitor/perfdata/Statistics.h"
#include "platform/perfdata/PerfDataKey.h"
#include "tools/perfdata/BlockFiles.h"

namespace {

using namespace ombrix;

// The monitor's seven objects, in the order it asks for them.
constexpr const char* kMonitorQuery = "2 4 238 230 232 236 510 ";

int Usage() {
  std::fputs(
      "usage: ombrix-perfdata capture N DIR [--interval MS] [--query TEXT] [--max-processes K]\n"
      "       ombrix-perfdata dump [FILE]\n"
      "       ombrix-perfdata values FILE1 FILE2\n",
      stderr);
  return 2;
}

std::vector<std::uint8_t> QueryOnce(const std::string& query) {
  std::vector<std::uint8_t> buf(65536);
  std::uint32_t bytes = 0;
  std::uint32_t rc;
  while ((rc = platform::QueryPerformanceData(query, buf.data(),
                                              static_cast<std::uint32_t>(buf.size()), &bytes)) ==
         platform::ERROR_MORE_DATA)
    buf.resize(std::max<std::size_t>(buf.size() + 32768, bytes));
  if (rc != 0) throw std::runtime_error("query failed with " + std::to_string(rc));
  buf.resize(bytes);
  return buf;
}

int Capture(int argc, char** argv) {
  if (argc < 4) return Usage();
  const int count = std::atoi(argv[2]);
  const std::string dir = argv[3];
  int interval = 1000;
  int maxProcesses = -1;
  std::string query = kMonitorQuery;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--interval")
      interval = std::atoi(argv[i + 1]);
    else if (opt == "--query")
      query = argv[i + 1];
    else if (opt == "--max-processes")
      maxProcesses = std::atoi(argv[i + 1]);
    else
      return Usage();
  }
  std::filesystem::create_directories(dir);
  for (int n = 0; n < count; ++n) {
    if (n > 0) std::this_thread::sleep_for(std::chrono::milliseconds(interval));
    std::vector<std::uint8_t> block = QueryOnce(query);
    if (maxProcesses >= 0) block = tools::TrimBlock(block, maxProcesses);
    char name[32];
    std::snprintf(name, sizeof name, "block-%03d.bin", n);
    tools::WriteBlockFile(dir + "/" + name, block);
    std::printf("%s/%s: %zu bytes\n", dir.c_str(), name, block.size());
  }
  return 0;
}

int Dump(int argc, char** argv) {
  TPerformanceData reader;
  if (argc >= 3) {
    const auto bytes = tools::ReadBlockFile(argv[2]);
    reader.LoadBlocks(bytes, bytes);
  } else {
    reader.QueryText = kMonitorQuery;
    reader.Sample();
  }
  DumpPerformanceData(reader.Current(), [](const std::string& text) {
    std::string out;
    for (char c : text)
      if (c != '\r') out += c;
    std::puts(out.c_str());
  });
  return 0;
}

int Values(int argc, char** argv) {
  if (argc < 4) return Usage();
  TPerformanceData reader;
  reader.LoadBlocks(tools::ReadBlockFile(argv[2]), tools::ReadBlockFile(argv[3]));
  std::printf("IntervalSeconds\t%.15g\n", reader.IntervalSeconds());
  reader.ForEachCounter([&](TObjectType& object, TInstance* instance, bool, TCounter& counter) {
    std::printf("%s\t%s\t%s (%u)\t%s\t%.15g\n", object.ObjectName().c_str(),
                instance ? instance->Name().c_str() : "-", counter.CounterName().c_str(),
                counter.CounterNameTitleIndex(), CounterTypeName(counter.CounterType()).c_str(),
                counter.CounterValue());
    return false;
  });
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  try {
    if (command == "capture") return Capture(argc, argv);
    if (command == "dump") return Dump(argc, argv);
    if (command == "values") return Values(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ombrix-perfdata: %s\n", e.what());
    return 1;
  }
  return Usage();
}
