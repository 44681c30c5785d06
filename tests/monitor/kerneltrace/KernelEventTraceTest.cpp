// The trace session's state machine over a recording platform session that replays records.
#include "monitor/kerneltrace/KernelEventTrace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/support/EventRecordBuilder.h"
#include "tests/support/LiveWorkload.h"
#include "tests/support/ReplayEventSource.h"

namespace {

using namespace platform;
using namespace ombrix;
using namespace ombrix::testing;

// Forwards to a replaying kernel logger and notes every platform call.
class TRecordingTracing final : public TraceService {
 public:
  explicit TRecordingTracing(TraceService& inner) : inner_(inner) {}

  std::uint32_t StartTrace(TRACEHANDLE* session, std::string_view name,
                           EVENT_TRACE_PROPERTIES* properties) override {
    Note("StartTrace");
    StartFlags = properties->EnableFlags;
    if (FailStart != 0) return FailStart;
    return inner_.StartTrace(session, name, properties);
  }
  std::uint32_t ControlTrace(TRACEHANDLE session, std::string_view name,
                             EVENT_TRACE_PROPERTIES* properties, std::uint32_t control) override {
    Note("ControlTrace");
    return inner_.ControlTrace(session, name, properties, control);
  }
  TRACEHANDLE OpenTrace(EVENT_TRACE_LOGFILE* logfile) override {
    Note("OpenTrace");
    if (FailOpen) return INVALID_TRACE_HANDLE;
    return inner_.OpenTrace(logfile);
  }
  std::uint32_t SetTraceCallback(const GUID& guid, TraceEventCallback callback) override {
    {
      std::lock_guard lock(mutex_);
      Registered.push_back(guid);
    }
    return inner_.SetTraceCallback(guid, callback);
  }
  std::uint32_t RemoveTraceCallback(const GUID& guid) override {
    return inner_.RemoveTraceCallback(guid);
  }
  std::uint32_t ProcessTrace(const TRACEHANDLE* handles, std::uint32_t count) override {
    ++ProcessTraceCalls;
    return inner_.ProcessTrace(handles, count);
  }
  std::uint32_t CloseTrace(TRACEHANDLE consumer) override {
    Note("CloseTrace");
    return inner_.CloseTrace(consumer);
  }

  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

  std::uint32_t StartFlags = 0xDEADBEEF;
  std::vector<GUID> Registered;
  std::atomic<int> ProcessTraceCalls{0};
  std::uint32_t FailStart = 0;
  bool FailOpen = false;

 private:
  void Note(const char* call) {
    std::lock_guard lock(mutex_);
    calls_.emplace_back(call);
  }
  TraceService& inner_;
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

// What the handlers saw, from the consumer thread.
struct THandlerLog {
  std::mutex Mutex;
  std::vector<std::string> Events;
  std::atomic<int> Count{0};
  std::thread::id Thread;

  TEventHandler Handler(const std::string& name) {
    return [this, name](const EVENT_TRACE* event) {
      std::lock_guard lock(Mutex);
      Events.push_back(name + ":" + std::to_string(event->Header.ProcessId));
      Thread = std::this_thread::get_id();
      ++Count;
    };
  }
  std::vector<std::string> Seen() {
    std::lock_guard lock(Mutex);
    return Events;
  }
};

class KernelEventTraceTest : public ::testing::Test {
 protected:
  void SetUp() override { SetEventTracing(&recorder); }
  void TearDown() override {
    trace.reset();
    SetEventTracing(nullptr);
  }

  std::shared_ptr<TReplayEventSource> source = std::make_shared<TReplayEventSource>();
  std::unique_ptr<KernelLogger> logger = ReplayLogger(source);
  TRecordingTracing recorder{*logger};
  THandlerLog log;
  std::unique_ptr<TKernelEventTrace> trace = std::make_unique<TKernelEventTrace>();
};

TEST_F(KernelEventTraceTest, NoHandlerMeansNoFlagsAndNoCallbacks) {
  source->Add({DiskIo(5, 1, 512), ProcessStart(6, "x")});
  ASSERT_TRUE(trace->Start());
  EXPECT_EQ(recorder.StartFlags, 0u);
  EXPECT_TRUE(recorder.Registered.empty());
  EXPECT_TRUE(ombrix::testing::WaitUntil([&] { return recorder.ProcessTraceCalls > 0; }));
  trace->Stop();
  EXPECT_TRUE(log.Seen().empty());
}

TEST_F(KernelEventTraceTest, FlagsAndClassesFollowTheInstalledHandlers) {
  trace->OnDiskIo = log.Handler("disk");
  trace->OnFileIo = log.Handler("file");
  trace->OnProcess = log.Handler("process");
  trace->OnRegistry = log.Handler("registry");
  trace->OnTcpIp = log.Handler("net");
  trace->OnUdpIp = trace->OnTcpIp;
  ASSERT_TRUE(trace->Start());
  EXPECT_EQ(recorder.StartFlags, 0x100u | 0x200u | 0x1u | 0x20000u | 0x10000u);
  EXPECT_EQ(source->OpenedFlags(), recorder.StartFlags);
  EXPECT_EQ(recorder.Registered, (std::vector<GUID>{DiskIoGuid, FileIoGuid, ProcessGuid,
                                                    RegistryGuid, TcpIpGuid, UdpIpGuid}));
}

TEST_F(KernelEventTraceTest, UdpHandlerAloneStillEnablesTheNetworkFlag) {
  trace->OnUdpIp = log.Handler("udp");
  source->Add(
      {Tcp(EVENT_TYPE_NET_SEND, 7, 10, 1, 2, 3, 4), Udp(EVENT_TYPE_NET_SEND, 8, 10, 1, 2, 3, 4)});
  ASSERT_TRUE(trace->Start());
  EXPECT_EQ(recorder.StartFlags, EVENT_TRACE_FLAG_NETWORK_TCPIP);
  EXPECT_EQ(recorder.Registered, std::vector<GUID>{UdpIpGuid});
  ASSERT_TRUE(ombrix::testing::WaitUntil([&] { return log.Count == 1; }));
  trace->Stop();
  EXPECT_EQ(log.Seen(), std::vector<std::string>{"udp:8"}) << "no TCP handler, no TCP events";
}

TEST_F(KernelEventTraceTest, HandlersRunOnTheConsumerThreadInOrder) {
  trace->OnEvent = log.Handler("any");
  trace->OnDiskIo = log.Handler("disk");
  trace->OnProcess = log.Handler("process");
  source->Add({DiskIo(5, 1, 512), ProcessStart(6, "x")});
  source->Add({DiskIo(7, 1, 512)});
  ASSERT_TRUE(trace->Start());
  ASSERT_TRUE(ombrix::testing::WaitUntil([&] { return log.Count == 6; }));
  trace->Stop();
  EXPECT_EQ(log.Seen(),
            (std::vector<std::string>{"any:5", "disk:5", "any:6", "process:6", "any:7", "disk:7"}));
  std::lock_guard lock(log.Mutex);
  EXPECT_NE(log.Thread, std::this_thread::get_id());
}

TEST_F(KernelEventTraceTest, StopBeforeStartAndRepeatedStopDoNothing) {
  trace->Stop();
  EXPECT_EQ(trace->LastStatus, 0u);
  EXPECT_TRUE(recorder.Calls().empty());
  trace->OnProcess = log.Handler("process");
  ASSERT_TRUE(trace->Start());
  trace->Stop();
  const auto calls = recorder.Calls();
  EXPECT_EQ(calls,
            (std::vector<std::string>{"StartTrace", "OpenTrace", "CloseTrace", "ControlTrace"}));
  trace->Stop();
  EXPECT_EQ(recorder.Calls(), calls);
  EXPECT_EQ(ProcessingEnabled, 0u);
}

TEST_F(KernelEventTraceTest, StartWhileRunningFailsWithoutAskingThePlatform) {
  trace->OnProcess = log.Handler("process");
  ASSERT_TRUE(trace->Start());
  EXPECT_FALSE(trace->Start());
  EXPECT_EQ(trace->LastStatus, 0u);
  EXPECT_EQ(recorder.Calls(), (std::vector<std::string>{"StartTrace", "OpenTrace"}));
}

TEST_F(KernelEventTraceTest, SessionThatCannotStartLeavesItsStatus) {
  recorder.FailStart = ERROR_ALREADY_EXISTS;  // another program holds the kernel logger
  trace->OnProcess = log.Handler("process");
  EXPECT_FALSE(trace->Start());
  EXPECT_EQ(trace->LastStatus, ERROR_ALREADY_EXISTS);
  trace->Stop();
  EXPECT_EQ(recorder.Calls(), std::vector<std::string>{"StartTrace"}) << "not ours to stop";
}

TEST_F(KernelEventTraceTest, ConsumerThatCannotOpenStopsTheSession) {
  recorder.FailOpen = true;
  trace->OnProcess = log.Handler("process");
  EXPECT_FALSE(trace->Start());
  EXPECT_EQ(recorder.Calls(),
            (std::vector<std::string>{"StartTrace", "OpenTrace", "ControlTrace"}));
  recorder.FailOpen = false;
  EXPECT_TRUE(trace->Start()) << "the session handle was released";
}

TEST_F(KernelEventTraceTest, MissingSourceKeepsItsErrnoWhileConsuming) {
  source->FailOpen(EVENT_TRACE_FLAG_PROCESS, 1 /* EPERM */);
  trace->OnProcess = log.Handler("process");
  trace->OnDiskIo = log.Handler("disk");
  source->Add({DiskIo(5, 1, 512)});
  ASSERT_TRUE(trace->Start());
  ASSERT_TRUE(ombrix::testing::WaitUntil([&] { return log.Count == 1; }));
  EXPECT_EQ(trace->LastStatus, 1u);
  source->FailOpen(EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_DISK_IO, 1);
  trace->Stop();
  EXPECT_FALSE(trace->Start()) << "no source at all";
  EXPECT_EQ(trace->LastStatus, 1u);
}

TEST_F(KernelEventTraceTest, StoppedTraceWaitsAndCanStartAgain) {
  trace->OnDiskIo = log.Handler("disk");
  source->Add({DiskIo(5, 1, 512)});
  ASSERT_TRUE(trace->Start());
  ASSERT_TRUE(ombrix::testing::WaitUntil([&] { return log.Count == 1; }));
  trace->Stop();
  const std::uint64_t passes = trace->Passes();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // At most the one pass that was already under way; a spinning thread would make thousands.
  EXPECT_LE(trace->Passes(), passes + 1);

  source->Add({DiskIo(9, 1, 512)});
  ASSERT_TRUE(trace->Start());
  EXPECT_TRUE(ombrix::testing::WaitUntil([&] { return log.Count == 2; }));
  EXPECT_EQ(log.Seen().back(), "disk:9");
}

TEST_F(KernelEventTraceTest, HandlerFailureEndsOnlyThatEvent) {
  std::atomic<int> calls{0};
  trace->OnDiskIo = [&](const EVENT_TRACE*) {
    if (++calls == 1) throw std::runtime_error("bad record");
  };
  source->Add({DiskIo(5, 1, 512), DiskIo(6, 1, 512)});
  ASSERT_TRUE(trace->Start());
  EXPECT_TRUE(ombrix::testing::WaitUntil([&] { return calls == 2; }));
}

TEST_F(KernelEventTraceTest, DestroyWhileEventsFlowEndsPromptly) {
  auto flowing = std::make_shared<TReplayEventSource>(
      std::vector<TReplayEventSource::Batch>{{DiskIo(5, 1, 512), Tcp(10, 5, 100, 1, 2, 3, 4)}},
      true);
  auto busyLogger = ReplayLogger(flowing);
  TRecordingTracing busy(*busyLogger);
  SetEventTracing(&busy);
  trace->OnDiskIo = log.Handler("disk");
  trace->OnTcpIp = log.Handler("tcp");
  ASSERT_TRUE(trace->Start());
  ASSERT_TRUE(ombrix::testing::WaitUntil([&] { return log.Count > 1000; }));
  trace.reset();  // returns once the consumer thread has ended
  const int after = log.Count;
  EXPECT_EQ(ProcessingEnabled, 0u);
  EXPECT_EQ(log.Count, after);
  SetEventTracing(&recorder);
}

}  // namespace
