// The kernel trace session: starts the kernel logger with the event groups that have a handler,
// and consumes its records on a thread of its own, passing each to the handler of its class.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/kernelevents/EventTrace.h"

namespace ombrix {

// A handler receives one event record, read-only, on the consumer thread.
using TEventHandler = std::function<void(const platform::EVENT_TRACE* event)>;

// Manual-reset event: stays signalled until reset.
class TManualResetEvent {
 public:
  void Set();
  void Reset();
  void Wait();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

class TKernelEventTrace {
 public:
  TKernelEventTrace();
  virtual ~TKernelEventTrace();
  TKernelEventTrace(const TKernelEventTrace&) = delete;
  TKernelEventTrace& operator=(const TKernelEventTrace&) = delete;

  bool Start();
  void Stop();

  // Passes of the consumer thread through ProcessEvents so far (for diagnosis: a stopped trace
  // makes none).
  std::uint64_t Passes() const { return passes_; }

  // Status of the last platform call; after a Start that succeeded with some event source
  // missing (for want of a privilege), the errno of the first such source.
  std::atomic<std::uint32_t> LastStatus{0};

  // Set by the owner before Start; an empty slot is not installed.
  TEventHandler OnEvent;
  TEventHandler OnDiskIo;
  TEventHandler OnFileIo;
  TEventHandler OnConfig;
  TEventHandler OnProcess;
  TEventHandler OnThread;
  TEventHandler OnRegistry;
  TEventHandler OnTcpIp;
  TEventHandler OnUdpIp;

 private:
  void Execute();  // the thread body
  bool StartSession();
  bool StopSession();
  bool OpenConsumer();
  void CloseConsumer();
  bool ProcessEvents();
  std::uint32_t EnableFlags() const;

  TManualResetEvent WakeEvent;
  platform::EVENT_TRACE_LOGFILE ConsumerLogFile{};
  std::atomic<platform::TRACEHANDLE> TraceHandle{platform::INVALID_TRACE_HANDLE};
  std::atomic<platform::TRACEHANDLE> SessionHandle{platform::INVALID_TRACE_HANDLE};
  std::uint32_t SourceStatus = 0;
  std::atomic<bool> Terminated{false};
  std::atomic<std::uint64_t> passes_{0};
  std::thread Thread;
};

// 1 while a consumer is open, else 0; the platform callbacks read it.
extern std::atomic<std::uint32_t> ProcessingEnabled;

}  // namespace ombrix
