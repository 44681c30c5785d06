// The kernel logger session over a replayed source: what it accepts, what it delivers, and how
// a consumer blocked in ProcessTrace gets out.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/kernelevents/KernelLogger.h"
#include "tests/support/EventRecordBuilder.h"
#include "tests/support/ReplayEventSource.h"

namespace {

using namespace platform;
using namespace ombrix::testing;

// What the callbacks saw, in order; plain function pointers cannot carry a context.
struct Seen {
  std::mutex Mutex;
  std::vector<std::string> Calls;
  std::atomic<std::uint32_t> BufferResult{1};
  std::atomic<int> Buffers{0};
};
Seen* g_seen = nullptr;

void Note(const std::string& what, const EVENT_TRACE* e) {
  std::lock_guard lock(g_seen->Mutex);
  g_seen->Calls.push_back(what + ":" + std::to_string(e->Header.Class.Type) + ":" +
                          std::to_string(e->MofLength));
}
void OnAny(EVENT_TRACE* e) {
  Note("any", e);
}
void OnDisk(EVENT_TRACE* e) {
  Note("disk", e);
}
void OnTcp(EVENT_TRACE* e) {
  Note("tcp", e);
}
void OnProcess(EVENT_TRACE* e) {
  Note("process", e);
}
std::uint32_t OnBuffer(EVENT_TRACE_LOGFILE*) {
  ++g_seen->Buffers;
  return g_seen->BufferResult.load();
}

class KernelLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { g_seen = &seen; }
  void TearDown() override { g_seen = nullptr; }

  std::uint32_t Start(std::uint32_t flags, TRACEHANDLE& session) {
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    properties.EnableFlags = flags;
    const std::uint32_t status = logger->StartTrace(&session, KERNEL_LOGGER_NAME, &properties);
    sourceStatus = properties.SourceStatus;
    return status;
  }
  std::uint32_t StopSession(TRACEHANDLE session) {
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    return logger->ControlTrace(session, KERNEL_LOGGER_NAME, &properties, EVENT_TRACE_CONTROL_STOP);
  }
  TRACEHANDLE OpenConsumer(bool withEventCallback = true) {
    EVENT_TRACE_LOGFILE logfile{};
    logfile.LoggerName = "NT Kernel Logger";
    logfile.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    logfile.BufferCallback = OnBuffer;
    logfile.EventCallback = withEventCallback ? OnAny : nullptr;
    return logger->OpenTrace(&logfile);
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(seen.Mutex);
    return seen.Calls;
  }

  Seen seen;
  std::shared_ptr<TReplayEventSource> source = std::make_shared<TReplayEventSource>();
  std::unique_ptr<KernelLogger> logger = ReplayLogger(source);
  std::uint32_t sourceStatus = 0;
};

TEST_F(KernelLoggerTest, DeliversOnlyTheClassesAskedForInOrder) {
  source->Add({DiskIo(10, 1, 4096), Tcp(EVENT_TYPE_NET_SEND, 10, 100, 1, 2, 3, 4),
               ProcessStart(11, "x"), Udp(EVENT_TYPE_NET_RECV, 10, 50, 1, 2, 3, 4)});
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  ASSERT_EQ(Start(EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_NETWORK_TCPIP, session), 0u);
  EXPECT_EQ(source->OpenedFlags(), EVENT_TRACE_FLAG_DISK_IO | EVENT_TRACE_FLAG_NETWORK_TCPIP);
  ASSERT_EQ(logger->SetTraceCallback(DiskIoGuid, OnDisk), 0u);
  ASSERT_EQ(logger->SetTraceCallback(TcpIpGuid, OnTcp), 0u);
  ASSERT_EQ(logger->SetTraceCallback(ProcessGuid, OnProcess), 0u);  // not enabled: never called
  const TRACEHANDLE consumer = OpenConsumer();
  ASSERT_NE(consumer, INVALID_TRACE_HANDLE);
  seen.BufferResult = 0;  // end after the first buffer
  EXPECT_EQ(logger->ProcessTrace(&consumer, 1), ERROR_CANCELLED);
  // UdpIp is enabled by the network flag but has no class callback: only the event callback.
  EXPECT_EQ(Calls(), (std::vector<std::string>{"any:10:32", "disk:10:32", "any:10:20", "tcp:10:20",
                                               "any:11:20"}));
  EXPECT_EQ(seen.Buffers, 1);
  logger->CloseTrace(consumer);
  EXPECT_EQ(StopSession(session), 0u);
}

TEST_F(KernelLoggerTest, RemovedCallbackIsNotCalledAgain) {
  source->Add({DiskIo(10, 1, 1)});
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  ASSERT_EQ(Start(EVENT_TRACE_FLAG_DISK_IO, session), 0u);
  logger->SetTraceCallback(DiskIoGuid, OnDisk);
  EXPECT_EQ(logger->RemoveTraceCallback(DiskIoGuid), 0u);
  EXPECT_NE(logger->RemoveTraceCallback(DiskIoGuid), 0u);
  const TRACEHANDLE consumer = OpenConsumer(false);
  seen.BufferResult = 0;
  logger->ProcessTrace(&consumer, 1);
  EXPECT_TRUE(Calls().empty());
  StopSession(session);
}

TEST_F(KernelLoggerTest, CloseFromAnotherThreadEndsABlockedProcessTrace) {
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  ASSERT_EQ(Start(EVENT_TRACE_FLAG_PROCESS, session), 0u);
  const TRACEHANDLE consumer = OpenConsumer();
  std::atomic<std::uint32_t> status{0xDEAD};
  std::thread thread([&] { status = logger->ProcessTrace(&consumer, 1); });
  while (source->Polls() == 0) std::this_thread::yield();  // blocked in an empty source
  EXPECT_EQ(logger->CloseTrace(consumer), 0u);
  thread.join();
  EXPECT_EQ(status, ERROR_CANCELLED);
  EXPECT_EQ(logger->ProcessTrace(&consumer, 1), ERROR_INVALID_HANDLE) << "closed handle";
  EXPECT_EQ(logger->CloseTrace(consumer), ERROR_INVALID_HANDLE);
  StopSession(session);
}

TEST_F(KernelLoggerTest, StoppingTheSessionEndsProcessTrace) {
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  ASSERT_EQ(Start(EVENT_TRACE_FLAG_PROCESS, session), 0u);
  const TRACEHANDLE consumer = OpenConsumer();
  std::atomic<std::uint32_t> status{0xDEAD};
  std::thread thread([&] { status = logger->ProcessTrace(&consumer, 1); });
  while (source->Polls() == 0) std::this_thread::yield();
  EXPECT_EQ(StopSession(session), 0u);
  thread.join();
  EXPECT_EQ(status, ERROR_SUCCESS);
  EXPECT_EQ(logger->ProcessTrace(&consumer, 1), ERROR_WMI_INSTANCE_NOT_FOUND);
  logger->CloseTrace(consumer);
}

TEST_F(KernelLoggerTest, SessionRulesAndBadArguments) {
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  ASSERT_EQ(Start(0, session), 0u) << "a session without flags delivers nothing but starts";
  TRACEHANDLE second = INVALID_TRACE_HANDLE;
  EXPECT_EQ(Start(EVENT_TRACE_FLAG_PROCESS, second), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(second, INVALID_TRACE_HANDLE);
  EXPECT_EQ(StopSession(session + 1), ERROR_WMI_INSTANCE_NOT_FOUND);
  EXPECT_EQ(StopSession(session), 0u);
  EXPECT_EQ(StopSession(session), ERROR_WMI_INSTANCE_NOT_FOUND) << "stopped already";

  EVENT_TRACE_PROPERTIES properties{};
  properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
  EXPECT_EQ(logger->StartTrace(&second, KERNEL_LOGGER_NAME, &properties), ERROR_INVALID_PARAMETER)
      << "not the kernel logger's control GUID";
  properties.Guid = SystemTraceControlGuid;
  EXPECT_NE(logger->StartTrace(&second, "Another Logger", &properties), 0u);
  EXPECT_EQ(logger->StartTrace(nullptr, KERNEL_LOGGER_NAME, &properties), ERROR_INVALID_PARAMETER);

  EVENT_TRACE_LOGFILE logfile{};
  logfile.LoggerName = "NT Kernel Logger";
  EXPECT_EQ(logger->OpenTrace(&logfile), INVALID_TRACE_HANDLE) << "not real-time";
  const TRACEHANDLE consumer = OpenConsumer();
  const TRACEHANDLE handles[2] = {consumer, consumer};
  EXPECT_EQ(logger->ProcessTrace(handles, 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(logger->ProcessTrace(&consumer, 1), ERROR_WMI_INSTANCE_NOT_FOUND) << "no session";
}

TEST_F(KernelLoggerTest, PartialSourceFailureStartsWithItsStatus) {
  source->FailOpen(EVENT_TRACE_FLAG_PROCESS, 1 /* EPERM */);
  TRACEHANDLE session = INVALID_TRACE_HANDLE;
  EXPECT_EQ(Start(EVENT_TRACE_FLAG_PROCESS | EVENT_TRACE_FLAG_DISK_IO, session), 0u);
  EXPECT_EQ(sourceStatus, 1u);
  EXPECT_EQ(StopSession(session), 0u);
  EXPECT_EQ(Start(EVENT_TRACE_FLAG_PROCESS, session), 1u) << "nothing opened: Start fails";
}

}  // namespace
