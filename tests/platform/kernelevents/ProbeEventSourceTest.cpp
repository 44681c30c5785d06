// The monitor's side of the probe, against stand-ins that serve, refuse, break the stream, end
// or say nothing: what is served arrives, and every other case ends in a clear fault, never a
// hang, and never a probe left running.
#include "platform/kernelevents/ProbeEventSource.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>

#include "platform/kernelevents/EventBackend.h"
#include "platform/kernelevents/KernelLogger.h"
#include "tests/support/FakeProbes.h"
#include "tests/support/LiveWorkload.h"
#include "tests/support/ScopedPlatform.h"

namespace {

using namespace platform;
using ombrix::testing::FakeProbes;

constexpr std::uint32_t kFlags = EVENT_TRACE_FLAG_NETWORK_TCPIP | EVENT_TRACE_FLAG_DISK_FILE_IO;

// Polls until the source stops serving or holds the records; a bounded number of polls.
std::vector<EventRecord> PollUntil(ProbeEventSource& source, std::size_t records) {
  std::vector<EventRecord> out;
  for (int k = 0; k < 100 && source.Serving() && out.size() < records; ++k) source.Poll(out);
  return out;
}

bool Gone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

TEST(ProbeSource, ServedRecordsAndDropsArriveAndTheProbeEndsWithTheSource) {
  FakeProbes probes;
  pid_t pid = -1;
  {
    ProbeEventSource source(probes.Path("serves"));
    const SourceOpenResult opened = source.Open(kFlags);
    ASSERT_TRUE(opened.Opened) << source.Fault();
    pid = source.ProbePid();
    const auto records = PollUntil(source, 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Header.Guid, TcpIpGuid);
    EXPECT_EQ(records[1].Header.Guid, FileIoGuid);
    EXPECT_TRUE(ombrix::testing::WaitUntil([&] {
      std::vector<EventRecord> more;
      source.Poll(more);
      return source.Dropped() == 5;
    }));
    EXPECT_TRUE(source.Serving());
    EXPECT_EQ(source.Fault(), "");
  }
  EXPECT_TRUE(Gone(pid)) << "the probe was reaped when its source went";
}

TEST(ProbeSource, EveryFailureEndsInAFaultThatSaysWhy) {
  FakeProbes probes;
  struct Case {
    std::string behaviour;
    bool opens;
    std::uint32_t status;
    std::string fault;
  };
  const std::vector<Case> cases = {
      {"refuses", false, EPERM,
       "probe: not permitted (run: sudo setcap " + ProbeCapabilities() + " " +
           probes.Path("refuses") + ")"},
      {"silent", false, ETIMEDOUT, "probe: no answer within 300 ms"},
      {"missing", false, ENOENT, "probe: not installed beside the program"},
      {"garbage", true, EPROTO, "probe: malformed stream (stream version 99, expected 1)"},
      {"exits", true, EPIPE, "probe: stopped (exit status 7)"},
  };
  for (const Case& c : cases) {
    ProbeEventSource source(probes.Path(c.behaviour), 300);
    const SourceOpenResult opened = source.Open(kFlags);
    EXPECT_EQ(opened.Opened, c.opens) << c.behaviour;
    if (opened.Opened) {
      const auto records = PollUntil(source, 99);
      EXPECT_EQ(records.size(), 2u) << c.behaviour << ": what came before the fault arrives";
    } else {
      EXPECT_EQ(opened.FirstError, c.status) << c.behaviour;
    }
    EXPECT_FALSE(source.Serving()) << c.behaviour;
    EXPECT_EQ(source.LastStatus(), c.status) << c.behaviour;
    EXPECT_EQ(source.Fault(), c.fault);
  }
}

// A probe that stops mid-session: the session goes on with polling, the statistics say why and
// count the stop once, and what the probe delivered before stays delivered.
TEST(ProbeSource, AStoppedProbeIsReplacedByPollingWithinTheSession) {
  FakeProbes probes;
  const ombrix::testing::ScopedProbe probe(probes.Path("exits"));
  std::vector<EventRecord> delivered;
  {
    PreferredEventSource source;
    ASSERT_TRUE(source.Open(kFlags).Opened);
    EXPECT_EQ(EventSourceStats().Backend, "probe");
    EXPECT_TRUE(ombrix::testing::WaitUntil([&] {
      source.Poll(delivered);
      return EventSourceStats().Faults == 1;
    }));
    const EventSourceState stats = EventSourceStats();
    EXPECT_EQ(stats.Backend, "procfs");
    EXPECT_EQ(stats.Reason, "probe: stopped (exit status 7)");
    EXPECT_EQ(stats.Status, static_cast<std::uint32_t>(EPIPE));
    for (int k = 0; k < 3; ++k) source.Poll(delivered);  // polling now, and no second fault
    EXPECT_EQ(EventSourceStats().Faults, 1u);
  }
  const auto ours = std::count_if(delivered.begin(), delivered.end(),
                                  [](const EventRecord& r) { return r.Header.ProcessId == 42; });
  EXPECT_EQ(ours, 2);
}

TEST(ProbeSource, ARefusingProbeLeavesTheSessionOnPollingWithTheCommandToRun) {
  FakeProbes probes;
  const ombrix::testing::ScopedProbe probe(probes.Path("refuses"));
  {
    PreferredEventSource source;
    const SourceOpenResult opened = source.Open(EVENT_TRACE_FLAG_NETWORK_TCPIP);
    EXPECT_TRUE(opened.Opened);
    EXPECT_EQ(opened.FirstError, static_cast<std::uint32_t>(EPERM));
    EXPECT_EQ(EventSourceStats().Backend, "procfs");
    EXPECT_NE(EventSourceStats().Reason.find("sudo setcap " + ProbeCapabilities()),
              std::string::npos);
    EXPECT_EQ(EventSourceStats().Faults, 0u) << "a refusal at the start is no stop";
  }
  SelectEventBackend(EventBackend::Probe);
  {
    PreferredEventSource source;
    EXPECT_FALSE(source.Open(EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened) << "the probe or nothing";
  }
}

}  // namespace
