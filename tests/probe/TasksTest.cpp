// The task table from the iterator's records: groups gather their threads whatever the order the
// records come in, totals take the ended threads' share, and a caller that sees only its own
// processes loses the others' I/O (and, where /proc hides them, the others altogether).
#include "probe/Tasks.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/kernelevents/bpf/BpfEvents.h"

namespace {

using namespace ombrix::probe;
using platform::TaskTable;

void Put(std::vector<std::uint8_t>& out, const void* record, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(record);
  out.insert(out.end(), bytes, bytes + size);
}

ombrix_thread_record Thread(std::uint32_t tid, std::uint32_t tgid, std::uint64_t runtime) {
  ombrix_thread_record t{};
  t.kind = OMBRIX_TASK_THREAD;
  t.tid = tid;
  t.tgid = tgid;
  t.runtime_ns = runtime;
  t.switches = tid;
  t.io.rchar = 10;
  return t;
}

ombrix_leader_record Leader(std::uint32_t pid, std::uint32_t uid, const char* comm) {
  ombrix_leader_record r{};
  r.thread = Thread(pid, pid, 1000);
  r.thread.kind = OMBRIX_TASK_LEADER;
  r.uid = uid;
  r.dead_runtime_ns = 500;
  r.dead_io.rchar = 7;
  r.rss_file = 3, r.rss_anon = 5, r.rss_shmem = 2;
  std::strncpy(r.comm, comm, sizeof r.comm - 1);
  return r;
}

TEST(TaskTable, GroupsGatherTheirThreadsAndTheEndedOnesShare) {
  std::vector<std::uint8_t> records;
  const auto early = Thread(90, 100, 300);  // a thread whose id came round before its leader's
  Put(records, &early, sizeof early);
  const auto leader = Leader(100, 1000, "server");
  Put(records, &leader, sizeof leader);
  const auto late = Thread(101, 100, 200);
  Put(records, &late, sizeof late);
  const auto orphan = Thread(300, 299, 50);  // its leader is not listed
  Put(records, &orphan, sizeof orphan);
  const auto other = Leader(200, 0, "root-daemon");
  Put(records, &other, sizeof other);

  TaskTable table;
  ASSERT_TRUE(BuildTaskTable(records, table));
  ASSERT_EQ(table.Processes.size(), 2u);
  const auto& p = table.Processes[0];
  EXPECT_EQ(p.Pid, 100u);
  EXPECT_EQ(p.Comm, "server");
  EXPECT_EQ(p.RuntimeNs, 500u + 1000 + 300 + 200) << "ended threads and live ones";
  EXPECT_EQ(p.ReadChars, 7u + 3 * 10);
  EXPECT_EQ(p.ResidentPages, 10u);
  EXPECT_EQ(p.SharedPages, 5u) << "file and shared memory pages";
  ASSERT_EQ(p.ThreadCount, 3u);
  EXPECT_EQ(table.Threads[p.FirstThread].Tid, 90u);
  EXPECT_EQ(table.Threads[p.FirstThread + 2].Tid, 101u);
  EXPECT_EQ(table.Processes[1].ThreadCount, 1u);
  EXPECT_EQ(table.Threads.size(), 4u) << "the orphan is left out";
}

TEST(TaskTable, RecordsCutShortEndTheReadingThere) {
  std::vector<std::uint8_t> records;
  const auto leader = Leader(100, 0, "a");
  Put(records, &leader, sizeof leader);
  records.resize(records.size() + sizeof(ombrix_leader_record) / 2, 0);
  records[sizeof leader] = OMBRIX_TASK_LEADER;  // a leader record cut in half
  TaskTable table;
  EXPECT_FALSE(BuildTaskTable(records, table));
  EXPECT_EQ(table.Processes.size(), 1u);
  std::vector<std::uint8_t> unknown(sizeof(ombrix_thread_record), 0);
  unknown[0] = 9;
  EXPECT_FALSE(BuildTaskTable(unknown, table));
  EXPECT_TRUE(table.Processes.empty());
}

TEST(TaskTable, ACallerOfOneUserLosesTheOthersIoAndWhereHiddenTheOthers) {
  std::vector<std::uint8_t> records;
  for (const auto& r : {Leader(100, 1000, "mine"), Leader(200, 0, "roots")})
    Put(records, &r, sizeof r);
  const auto thread = Thread(201, 200, 5);
  Put(records, &thread, sizeof thread);
  TaskTable table;
  ASSERT_TRUE(BuildTaskTable(records, table));
  TaskTable all = table;
  NarrowTaskTable({true, 1000, true}, all);
  EXPECT_TRUE(all.Processes[1].IoKnown) << "root and the group see everything";

  TaskTable own = table;
  NarrowTaskTable({false, 1000, false}, own);
  ASSERT_EQ(own.Processes.size(), 2u);
  EXPECT_TRUE(own.Processes[0].IoKnown);
  EXPECT_EQ(own.Processes[0].ReadChars, 7u + 10);
  EXPECT_FALSE(own.Processes[1].IoKnown);
  EXPECT_EQ(own.Processes[1].ReadChars, 0u);
  EXPECT_EQ(own.Processes[1].RuntimeNs, table.Processes[1].RuntimeNs) << "as /proc shows it";

  TaskTable hidden = table;
  NarrowTaskTable({false, 1000, true}, hidden);
  ASSERT_EQ(hidden.Processes.size(), 1u);
  EXPECT_EQ(hidden.Processes[0].Pid, 100u);
  ASSERT_EQ(hidden.Threads.size(), 1u);
  EXPECT_EQ(hidden.Threads[hidden.Processes[0].FirstThread].Tid, 100u);
}

}  // namespace
