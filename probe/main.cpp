// ombrix-probe: the one part of Ombrix that may hold a privilege. It loads the kernel programs
// with the capabilities it was given, gives every capability up, and then streams the event
// records its caller may see to the program that started it, over its standard input and output.
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/heap/HeapStatus.h"
#include "platform/kernelevents/ProbeEventSource.h"
#include "platform/kernelevents/bpf/BpfEventSource.h"
#include "platform/linux/Handle.h"
#include "probe/Access.h"
#include "probe/Privileges.h"
#include "probe/ProbeServer.h"
#include "probe/Tasks.h"

namespace {

using namespace ombrix::probe;

constexpr std::uint32_t kEveryClass =
    platform::EVENT_TRACE_FLAG_PROCESS | platform::EVENT_TRACE_FLAG_NETWORK_TCPIP |
    platform::EVENT_TRACE_FLAG_DISK_IO | platform::EVENT_TRACE_FLAG_DISK_FILE_IO;

int Usage() {
  std::fputs(
      "ombrix-probe: started by Ombrix, it streams kernel events to it over a pipe; "
      "'ombrix-probe --capabilities' prints the capabilities to grant it\n",
      stderr);
  return kExitUsage;
}

// The stream goes to the program that started the probe, never to a terminal or a file.
bool StreamIsPipe() {
  struct stat in {
  }, out{};
  if (isatty(0) || isatty(1) || fstat(0, &in) != 0 || fstat(1, &out) != 0) return false;
  const auto pipe = [](const struct stat& s) { return S_ISFIFO(s.st_mode) || S_ISSOCK(s.st_mode); };
  return pipe(in) && pipe(out);
}

// Nothing from the environment and no descriptor but the stream reaches the probe.
void Isolate() {
  clearenv();
  platform::os::CloseDescriptorsFrom(3);
  std::signal(SIGPIPE, SIG_IGN);
  prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
}

class BpfServed final : public ServedSource {
 public:
  BpfServed(platform::BpfEventSource& source, platform::SourceOpenResult loaded,
            const TaskView& view)
      : source_(source), loaded_(loaded), view_(view) {}
  platform::SourceOpenResult Narrow(std::uint32_t enableFlags) override {
    return loaded_.Opened ? source_.Narrow(enableFlags) : loaded_;
  }
  void Drain(platform::RecordSink& out) override { source_.Drain(out); }
  std::uint64_t Dropped() const override { return source_.Dropped(); }
  bool ReadTasks(platform::TaskTable& table) override {
    if (!source_.ReadTaskRecords(records_) || !BuildTaskTable(records_, table)) return false;
    NarrowTaskTable(view_, table);
    return true;
  }

 private:
  platform::BpfEventSource& source_;
  platform::SourceOpenResult loaded_;
  TaskView view_;
  std::vector<std::uint8_t> records_;
};

int Run() {
  Isolate();
  if (!StreamIsPipe()) return Usage();
  const CallerFacts caller = RunningCaller();
  ServeOptions options;
  options.Scope = ScopeOf(caller);
  platform::BpfViewer viewer;
  viewer.Everything = options.Scope == platform::probe::ViewScope::Everything;
  viewer.Uid = caller.Uid;
  platform::BpfEventSource source(options.DrainPeriodMs, platform::BpfSystem::Running(), viewer);
  const platform::SourceOpenResult loaded = source.Open(kEveryClass);
  // Loading parsed the kernel's type information: megabytes needed once, then never again.
  platform::ReturnFreeHeap();
  std::string error;
  if (!DropPrivileges(error)) {
    std::fprintf(stderr, "ombrix-probe: cannot give up its privileges (%s)\n", error.c_str());
    return kExitNotServed;
  }
  TaskView view;
  view.Everything = viewer.Everything;
  view.Uid = caller.Uid;
  view.HideOthers = ProcHidesOthers(caller);
  BpfServed served(source, loaded, view);
  return Serve(served, options);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--capabilities") == 0) {
    std::printf("%s\n", platform::ProbeCapabilities().c_str());
    return 0;
  }
  if (argc != 1) return Usage();
  return Run();
}
