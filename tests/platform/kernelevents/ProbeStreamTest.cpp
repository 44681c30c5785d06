// The probe's stream as its reader sees it: frames cut anywhere still come out whole, and a
// stream that claims more than it holds, or more than the limits, is malformed rather than read.
#include "platform/kernelevents/ProbeStream.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/EventRecordBuilder.h"

namespace {

using namespace platform;
using namespace platform::probe;
using ombrix::testing::FileName;
using ombrix::testing::Ip;
using ombrix::testing::Tcp;
using platform::TaskProcess;
using platform::TaskTable;

// A frame with a payload of its own, outliving the reader.
struct OwnedFrame {
  FrameType Type;
  std::vector<std::uint8_t> Payload;
  operator Frame() const { return {Type, Payload}; }
};

std::vector<OwnedFrame> ReadAll(const std::vector<std::uint8_t>& bytes, std::size_t chunk,
                                FrameReader::Result* last = nullptr) {
  FrameReader reader;
  std::vector<OwnedFrame> frames;
  FrameReader::Result result = FrameReader::Result::NeedMore;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    reader.Feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
    Frame frame;
    while ((result = reader.Next(frame)) == FrameReader::Result::Frame)
      frames.push_back({frame.Type, {frame.Payload.begin(), frame.Payload.end()}});
  }
  if (last != nullptr) *last = result;
  return frames;
}

TEST(ProbeStream, FramesSurviveAnyCutOfTheStream) {
  const std::vector<EventRecord> records = {
      Tcp(10, 42, 1500, Ip(10, 0, 0, 2), Ip(10, 0, 0, 1), 443, 50000),
      FileName(7, "/home/ann/Документы/report.odt")};
  std::vector<std::uint8_t> bytes = HelloFrame({0x10301});
  const auto ready = ReadyFrame({EPERM, ViewScope::Everything});
  bytes.insert(bytes.end(), ready.begin(), ready.end());
  AppendRecordsFrames(records, bytes);
  const auto dropped = DroppedFrame(0x1'0000'0005);
  bytes.insert(bytes.end(), dropped.begin(), dropped.end());

  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, bytes.size()}) {
    const auto frames = ReadAll(bytes, chunk);
    ASSERT_EQ(frames.size(), 4u) << "chunk " << chunk;
    std::string error;
    EXPECT_EQ(ReadHello(frames[0], error)->EnableFlags, 0x10301u);
    EXPECT_EQ(ReadReady(frames[1], error)->FirstError, static_cast<std::uint32_t>(EPERM));
    EXPECT_EQ(ReadReady(frames[1], error)->Scope, ViewScope::Everything);
    std::vector<EventRecord> read;
    ASSERT_TRUE(ReadRecords(frames[2], read, error)) << error;
    ASSERT_EQ(read.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(read[k].Data, records[k].Data);
      EXPECT_EQ(read[k].Header.Guid, records[k].Header.Guid);
      EXPECT_EQ(read[k].Header.ProcessId, records[k].Header.ProcessId);
    }
    EXPECT_EQ(*ReadDropped(frames[3], error), 0x1'0000'0005u);
  }
}

TEST(ProbeStream, ManyRecordsSpreadOverFramesWithinTheLimit) {
  std::vector<EventRecord> records;
  for (int k = 0; k < 12000; ++k) records.push_back(FileName(k, std::string(40, 'n')));
  std::vector<std::uint8_t> bytes;
  AppendRecordsFrames(records, bytes);
  const auto frames = ReadAll(bytes, 65536);
  EXPECT_GT(frames.size(), 1u);
  std::size_t total = 0;
  for (const OwnedFrame& frame : frames) {
    EXPECT_LE(frame.Payload.size(), kMaxFrame);
    std::vector<EventRecord> read;
    std::string error;
    ASSERT_TRUE(ReadRecords(frame, read, error)) << error;
    total += read.size();
  }
  EXPECT_EQ(total, records.size());
}

// The probe writes disk and socket records straight into its frames; they must read back
// exactly as the records the other sources build.
TEST(ProbeStream, RecordsWrittenDirectlyMatchTheBuiltOnes) {
  std::vector<EventRecord> built = {
      DiskIoRecord(EVENT_TYPE_DISK_WRITE, 77, 2, 65536, 1234, 0x1'2345'6000, 9),
      NetworkRecord(UdpIpGuid, EVENT_TYPE_NET_RECV, 88, 1400, Ip(10, 1, 2, 3), Ip(127, 0, 0, 1), 53,
                    40000)};
  for (EventRecord& record : built) record.Header.TimeStamp = 5555;
  std::vector<std::uint8_t> direct, fromBuilt;
  RecordsWriter writer(direct, 5555);
  writer.AddDiskIo(EVENT_TYPE_DISK_WRITE, 77, 2, 65536, 1234, 0x1'2345'6000, 9);
  writer.AddNetwork(UdpIpGuid, EVENT_TYPE_NET_RECV, 88, 1400, Ip(10, 1, 2, 3), Ip(127, 0, 0, 1), 53,
                    40000);
  writer.Finish();
  AppendRecordsFrames(built, fromBuilt);
  EXPECT_EQ(direct, fromBuilt);
}

TaskTable SomeTasks(std::uint32_t processes, std::uint32_t threadsEach) {
  TaskTable table;
  for (std::uint32_t k = 0; k < processes; ++k) {
    TaskProcess& p = table.Processes.emplace_back();
    p.Pid = 100 + k;
    p.ParentId = 1;
    p.Uid = k % 2 ? 1000 : 0;
    p.KernelThread = k == 0;
    p.IoKnown = k % 3 != 0;
    p.RuntimeNs = 1'000'000'000ull * k + 7;
    p.ResidentPages = 4096 + k;
    p.ReadChars = 1ull << 40;
    p.Comm = k == 1 ? "averyveryverylo" : "p" + std::to_string(k);
    p.Exe = k == 1 ? "averyveryverylongname" : "";
    p.FirstThread = static_cast<std::uint32_t>(table.Threads.size());
    p.ThreadCount = threadsEach;
    for (std::uint32_t t = 0; t < threadsEach; ++t)
      table.Threads.push_back({p.Pid + 10000 * t, 1000ull * t, t});
  }
  return table;
}

TEST(ProbeStream, TaskTablesComeBackWholeOverAsManyFramesAsTheyNeed) {
  for (const auto& [processes, threads] : {std::pair{3u, 2u}, std::pair{9000u, 4u}}) {
    const TaskTable sent = SomeTasks(processes, threads);
    std::vector<std::uint8_t> bytes;
    AppendTasksFrames(42, sent, bytes);
    TaskTable got;
    bool last = false;
    std::size_t frames = 0;
    for (const OwnedFrame& frame : ReadAll(bytes, 65536)) {
      std::uint32_t sequence = 0;
      std::string error;
      TaskTable part;
      ASSERT_TRUE(ReadTasks(frame, sequence, last, part, error)) << error;
      EXPECT_EQ(sequence, 42u);
      for (auto& p : part.Processes) {
        p.FirstThread += static_cast<std::uint32_t>(got.Threads.size());
        got.Processes.push_back(p);
      }
      got.Threads.insert(got.Threads.end(), part.Threads.begin(), part.Threads.end());
      ++frames;
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(frames > 1, processes > 3) << "a big table takes several frames";
    ASSERT_EQ(got.Processes.size(), sent.Processes.size());
    for (std::size_t k = 0; k < sent.Processes.size(); ++k) {
      const auto &a = sent.Processes[k], &b = got.Processes[k];
      EXPECT_EQ(std::tie(a.Pid, a.Uid, a.KernelThread, a.IoKnown, a.RuntimeNs, a.ReadChars, a.Comm,
                         a.Exe, a.ThreadCount),
                std::tie(b.Pid, b.Uid, b.KernelThread, b.IoKnown, b.RuntimeNs, b.ReadChars, b.Comm,
                         b.Exe, b.ThreadCount));
      EXPECT_EQ(got.Threads[b.FirstThread + threads - 1].Tid,
                sent.Threads[a.FirstThread + threads - 1].Tid);
    }
  }
}

TEST(ProbeStream, TaskTablesClaimingMoreThanTheirFrameAreRefused) {
  std::vector<std::uint8_t> bytes;
  AppendTasksFrames(1, SomeTasks(1, 2), bytes);
  const std::vector<std::uint8_t> payload(bytes.begin() + kHeaderSize, bytes.end());
  const auto refused = [](std::vector<std::uint8_t> p) {
    std::uint32_t sequence = 0;
    bool last = false;
    TaskTable table;
    std::string error;
    return !ReadTasks(OwnedFrame{FrameType::Tasks, std::move(p)}, sequence, last, table, error) &&
           !error.empty();
  };
  auto moreProcesses = payload;
  moreProcesses[8] = 2;  // two processes, one there
  EXPECT_TRUE(refused(moreProcesses));
  auto moreThreads = payload;
  moreThreads[12 + 84] = 200;  // the thread count
  EXPECT_TRUE(refused(moreThreads));
  auto longName = payload;
  longName[12 + 80] = 250;  // the length of comm
  EXPECT_TRUE(refused(longName));
  auto trailing = payload;
  trailing.push_back(0);
  EXPECT_TRUE(refused(trailing));
}

// A frame header: length, type, version.
std::vector<std::uint8_t> Header(std::uint32_t length, std::uint16_t type, std::uint16_t version) {
  return {static_cast<std::uint8_t>(length),       static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24),
          static_cast<std::uint8_t>(type),         static_cast<std::uint8_t>(type >> 8),
          static_cast<std::uint8_t>(version),      static_cast<std::uint8_t>(version >> 8)};
}

TEST(ProbeStream, HeadersOutsideTheLimitsEndTheStream) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {
      {"another version", Header(0, 4, kVersion + 1)},
      {"a frame over the limit", Header(kMaxFrame + 1, 4, kVersion)},
      {"an unknown type", Header(0, 99, kVersion)},
      {"type zero", Header(0, 0, kVersion)},
  };
  for (const Case& c : cases) {
    FrameReader::Result last{};
    std::vector<std::uint8_t> bytes = c.bytes;
    const auto good = DroppedFrame(1);
    bytes.insert(bytes.end(), good.begin(), good.end());
    EXPECT_TRUE(ReadAll(bytes, bytes.size(), &last).empty()) << c.what;
    EXPECT_EQ(last, FrameReader::Result::Malformed) << c.what;
  }
}

TEST(ProbeStream, RecordsClaimingMoreThanTheirFrameAreRefusedWhole) {
  std::vector<std::uint8_t> good;
  AppendRecordsFrames({FileName(1, "/a")}, good);
  const OwnedFrame frame{FrameType::Records, {good.begin() + kHeaderSize, good.end()}};
  std::vector<EventRecord> out;
  std::string error;
  ASSERT_TRUE(ReadRecords(frame, out, error));

  const auto refused = [&](std::vector<std::uint8_t> payload) {
    const OwnedFrame bad{FrameType::Records, std::move(payload)};
    std::vector<EventRecord> kept(1);
    std::string why;
    const bool read = ReadRecords(bad, kept, why);
    return !read && kept.size() == 1 && !why.empty();
  };
  auto longer = frame.Payload;
  longer[0] += 1;  // data one byte past the frame
  EXPECT_TRUE(refused(longer));
  auto cut = frame.Payload;
  cut.push_back(1);  // a second record's prefix cut short
  EXPECT_TRUE(refused(cut));
  auto unknown = frame.Payload;
  unknown[4] = 99;  // no such class
  EXPECT_TRUE(refused(unknown));
  auto padded = frame.Payload;
  padded[6] = 1;  // the two bytes after the type are 0
  EXPECT_TRUE(refused(padded));
  auto twice = frame.Payload;
  twice.insert(twice.end(), frame.Payload.begin(), frame.Payload.end() - 1);
  EXPECT_TRUE(refused(twice)) << "the second record is one byte short; the first is not kept";
  std::vector<std::uint8_t> huge(24 + kMaxRecordData + 1, 0);
  huge[0] = static_cast<std::uint8_t>(kMaxRecordData + 1);
  huge[1] = static_cast<std::uint8_t>((kMaxRecordData + 1) >> 8);
  huge[2] = static_cast<std::uint8_t>((kMaxRecordData + 1) >> 16);
  EXPECT_TRUE(refused(huge)) << "more data than any record has";
}

TEST(ProbeStream, SmallFramesOfTheWrongShapeAreRefused) {
  std::string error;
  OwnedFrame hello{FrameType::Hello, {0x4F, 0x4D, 0x42, 0x58, 1, 0, 0, 0}};
  EXPECT_TRUE(ReadHello(hello, error));
  hello.Payload[0] = 0;
  EXPECT_FALSE(ReadHello(hello, error)) << "wrong magic";
  const OwnedFrame longHello{FrameType::Hello, {0x4F, 0x4D, 0x42, 0x58, 1, 0, 0, 0, 0}};
  EXPECT_FALSE(ReadHello(longHello, error));
  EXPECT_FALSE(ReadReady(OwnedFrame{FrameType::Ready, {0, 0, 0, 0, 2, 0, 0, 0}}, error))
      << "no scope 2";
  EXPECT_FALSE(ReadDropped(OwnedFrame{FrameType::Dropped, {1, 2, 3}}, error));
  EXPECT_FALSE(ReadDropped(OwnedFrame{FrameType::Ready, std::vector<std::uint8_t>(8)}, error));
  EXPECT_FALSE(ReadFailure(OwnedFrame{FrameType::Failure, {1, 0}}, error));
}

}  // namespace
