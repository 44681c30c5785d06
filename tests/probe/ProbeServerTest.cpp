// The probe's serving loop over a socket pair, with a made-up source: it answers one hello and
// streams, and anything else from its caller (garbage, a second frame, silence then the end)
// ends it with the status that says so.
#include "probe/ProbeServer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <mutex>

#include "tests/support/EventRecordBuilder.h"

namespace {

using namespace ombrix::probe;
using namespace platform;
using namespace platform::probe;

class FakeSource final : public ServedSource {
 public:
  SourceOpenResult Narrow(std::uint32_t flags) override {
    asked = flags;
    return result;
  }
  void Drain(RecordSink& out) override {
    std::lock_guard lock(mutex);
    for (EventRecord& record : pending) out.Add(std::move(record));
    pending.clear();
  }
  std::uint64_t Dropped() const override { return 3; }
  bool ReadTasks(TaskTable& table) override {
    if (!tasks) return false;
    table = TaskTable{};
    table.Processes.push_back({});
    table.Processes[0].Pid = 77;
    table.Processes[0].Comm = "worker";
    return true;
  }
  bool tasks = true;

  SourceOpenResult result{true, 0};
  std::uint32_t asked = 0;
  std::mutex mutex;
  std::vector<EventRecord> pending;
};

class ProbeServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0); }
  void TearDown() override {
    if (ends[0] >= 0) close(ends[0]);
    close(ends[1]);
  }
  std::future<int> Start() {
    ServeOptions options;
    options.In = options.Out = ends[1];
    options.Scope = ViewScope::Everything;
    options.DrainPeriodMs = 10;
    return std::async(std::launch::async, [this, options] { return Serve(source, options); });
  }
  void Send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(write(ends[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // The next frame from the server; a Failure-typed empty frame when the stream ended.
  Frame NextFrame() {
    Frame frame;
    for (;;) {
      if (reader.Next(frame) == FrameReader::Result::Frame) return frame;
      std::uint8_t buffer[4096];
      const ssize_t n = read(ends[0], buffer, sizeof buffer);
      if (n <= 0) return {FrameType::Failure, {}};
      reader.Feed(buffer, static_cast<std::size_t>(n));
    }
  }
  void Hangup() {
    close(ends[0]);
    ends[0] = -1;
  }

  int ends[2] = {-1, -1};
  FakeSource source;
  FrameReader reader;
};

TEST_F(ProbeServer, AnswersTheHelloThenStreamsUntilTheCallerCloses) {
  source.pending = {ombrix::testing::FileName(4, "/etc/hosts")};
  auto served = Start();
  Send(HelloFrame({EVENT_TRACE_FLAG_DISK_FILE_IO}));
  std::string error;
  const auto ready = ReadReady(NextFrame(), error);
  ASSERT_TRUE(ready) << error;
  EXPECT_EQ(ready->Scope, ViewScope::Everything);
  EXPECT_EQ(source.asked, EVENT_TRACE_FLAG_DISK_FILE_IO);
  std::vector<EventRecord> records;
  EXPECT_TRUE(ReadRecords(NextFrame(), records, error)) << error;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Header.Guid, FileIoGuid);
  EXPECT_EQ(ReadDropped(NextFrame(), error), 3u);
  Hangup();
  EXPECT_EQ(served.get(), kExitDone);
}

TEST_F(ProbeServer, TaskTablesAreAnsweredInTheStreamAndAnEmptyOneWhenUnreadable) {
  auto served = Start();
  Send(HelloFrame({EVENT_TRACE_FLAG_NETWORK_TCPIP}));
  std::string error;
  ASSERT_TRUE(ReadReady(NextFrame(), error)) << error;
  for (const bool readable : {true, false}) {
    source.tasks = readable;
    Send(TaskRequestFrame(readable ? 5 : 6));
    Frame frame;
    do frame = NextFrame();
    while (frame.Type == FrameType::Dropped);
    std::uint32_t sequence = 0;
    bool last = false;
    TaskTable table;
    ASSERT_TRUE(ReadTasks(frame, sequence, last, table, error)) << error;
    EXPECT_EQ(sequence, readable ? 5u : 6u);
    EXPECT_TRUE(last);
    ASSERT_EQ(table.Processes.size(), readable ? 1u : 0u);
    if (readable) {
      EXPECT_EQ(table.Processes[0].Comm, "worker");
    }
  }
  Send(HelloFrame({1}));
  EXPECT_EQ(served.get(), kExitBadRequest) << "anything but a task request ends it";
}

TEST_F(ProbeServer, AClassThatCannotLoadIsAFailureFrame) {
  source.result = {false, EPERM};
  auto served = Start();
  Send(HelloFrame({EVENT_TRACE_FLAG_PROCESS}));
  std::string error;
  const auto failure = ReadFailure(NextFrame(), error);
  ASSERT_TRUE(failure) << error;
  EXPECT_EQ(failure->Error, static_cast<std::uint32_t>(EPERM));
  EXPECT_EQ(served.get(), kExitNotServed);
}

TEST_F(ProbeServer, AnythingButOneHelloEndsIt) {
  auto garbage = Start();
  Send({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P'});
  EXPECT_EQ(garbage.get(), kExitBadRequest);

  auto twoFrames = Start();
  auto bytes = HelloFrame({1});
  const auto again = HelloFrame({1});
  bytes.insert(bytes.end(), again.begin(), again.end());
  Send(bytes);
  EXPECT_EQ(twoFrames.get(), kExitBadRequest) << "nothing may come with the hello";

  auto closed = Start();
  Hangup();
  EXPECT_EQ(closed.get(), kExitBadRequest) << "the end before a hello";
}

}  // namespace
