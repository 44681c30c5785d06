#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ScopedSettings.h"

namespace {

using namespace ombrix;
using ombrix::testing::FakeClock;

// Records what a sweep hands to the completed-process log.
class RecordingLog : public TCompletionLog {
 public:
  void ProcessDone(TProcessInfo& p) override { lines.push_back("process " + p.Name); }
  void FileDone(TFileInfo& f) override {
    lines.push_back("file " + std::to_string(f.FileObject) + (f.Active ? " active" : ""));
  }
  void FilesDone(TProcessInfo& p) override { lines.push_back("files done " + p.Name); }
  void SocketDone(TSocketInfo& s) override {
    lines.push_back("socket " + std::to_string(s.RemotePort));
  }
  std::vector<std::string> lines;
};

class Tables : public ::testing::Test {
 protected:
  FakeClock clock{1000000};
  TEntityTables tables;
};

std::vector<std::uint32_t> ProcessIds(const TEntityTables& t) {
  std::vector<std::uint32_t> ids;
  for (const auto& p : t.Processes) ids.push_back(p->ProcessId);
  return ids;
}

TEST_F(Tables, ProcessesStayInIdOrderAndAreFoundAgain) {
  for (std::uint32_t id : {500U, 4U, 0x80000000U, 77U}) tables.FindOrCreateProcess(id, "");
  EXPECT_EQ(ProcessIds(tables), (std::vector<std::uint32_t>{4, 77, 500, 0x80000000U}));
  EXPECT_TRUE(tables.ProcessListChanged);

  tables.ProcessListChanged = false;
  TProcessInfo* p = tables.FindOrCreateProcess(77, "daemon");
  EXPECT_EQ(p, tables.FindProcess(77));
  EXPECT_EQ(p->Name, "daemon");
  EXPECT_FALSE(tables.ProcessListChanged);  // found, not created
  EXPECT_EQ(tables.FindProcess(78), nullptr);
  EXPECT_EQ(tables.FindProcess(NoProcess), nullptr);
  EXPECT_EQ(tables.FindProcess(0x80000000U)->ProcessId, 0x80000000U);  // unsigned order

  EXPECT_EQ(tables.SystemProcess, nullptr);
  TProcessInfo* system = tables.FindOrCreateProcess(4, "System");
  EXPECT_EQ(tables.SystemProcess, system);
  tables.FindOrCreateProcess(5, "system");  // the name must match exactly
  EXPECT_EQ(tables.SystemProcess, system);
}

TEST_F(Tables, ThreePseudoProcessesShareIdZero) {
  tables.FindOrCreateProcess(8, "");
  std::vector<TProcessInfo*> pseudo;
  for (const char* name : {"_Idle", "_Interrupts", "_DPCs"}) {
    auto p = std::make_unique<TProcessInfo>(&tables, 0);
    p->SetName(name);
    pseudo.push_back(tables.InsertProcess(std::move(p)));
  }
  ASSERT_EQ(tables.Processes.size(), 4U);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(tables.Processes[i].get(), pseudo[i]);  // in order
  TProcessInfo* found = tables.FindProcess(0);
  EXPECT_NE(std::find(pseudo.begin(), pseudo.end(), found), pseudo.end());
  EXPECT_EQ(tables.FindOrCreateProcess(0, ""), found);  // no fourth one
  EXPECT_EQ(tables.FindProcess(8)->ProcessId, 8U);
}

TEST_F(Tables, DisksAndAdaptersInsertByNameAndKeepTheirIndex) {
  EXPECT_EQ(tables.FindOrCreateDisk("D:"), 0U);
  EXPECT_EQ(tables.FindOrCreateDisk("F:"), 1U);
  EXPECT_EQ(tables.FindOrCreateDisk("C:"), 0U);  // sorts first: inserted before
  EXPECT_EQ(tables.FindOrCreateDisk("E:"), 2U);
  EXPECT_EQ(tables.FindOrCreateDisk("D:"), 1U);  // named again: the same entity
  ASSERT_EQ(tables.Disks.size(), 4U);
  EXPECT_EQ(tables.Disks[3]->Name, "F:");
  EXPECT_FALSE(tables.Disks[1]->Active);  // the feed activates it, not the lookup

  // Byte-wise and case-sensitive: upper case sorts before lower case.
  tables.FindOrCreateAdapter("eth0");
  EXPECT_EQ(tables.FindOrCreateAdapter("Wlan"), 0U);
  EXPECT_EQ(tables.FindOrCreateAdapter("wlan"), 2U);
  EXPECT_EQ(tables.Adapters.size(), 3U);
}

TEST_F(Tables, FilesAndSocketsStaySortedByKeyAndAreFoundAgain) {
  std::mt19937 random(7);
  std::vector<TFileInfo*> files;
  std::vector<TSocketInfo*> sockets;
  for (int i = 0; i < 400; ++i) {
    const std::uint32_t pid = random() % 5 + (i % 2 ? 0x80000000U : 0);
    files.push_back(tables.FindOrCreateFile(pid, static_cast<std::uint32_t>(random())));
    sockets.push_back(tables.FindOrCreateSocket(pid, static_cast<std::uint32_t>(random() % 3),
                                                static_cast<std::uint16_t>(random() % 4)));
  }
  const auto fileKey = [](const auto& f) { return std::make_pair(f->ProcessId, f->FileObject); };
  const auto socketKey = [](const auto& s) {
    return std::make_tuple(s->ProcessId, s->RemoteAddress, s->RemotePort);
  };
  EXPECT_TRUE(std::is_sorted(tables.Files.begin(), tables.Files.end(),
                             [&](auto& a, auto& b) { return fileKey(a) < fileKey(b); }));
  EXPECT_TRUE(
      std::adjacent_find(tables.Sockets.begin(), tables.Sockets.end(), [&](auto& a, auto& b) {
        return !(socketKey(a) < socketKey(b));
      }) == tables.Sockets.end());         // strictly ascending: no duplicates
  EXPECT_LT(tables.Sockets.size(), 400U);  // repeated keys were found, not created
  for (TFileInfo* f : files) EXPECT_EQ(tables.FindOrCreateFile(f->ProcessId, f->FileObject), f);
  for (TSocketInfo* s : sockets) {
    EXPECT_EQ(tables.FindOrCreateSocket(s->ProcessId, s->RemoteAddress, s->RemotePort), s);
    ASSERT_NE(s->Process, nullptr);
    EXPECT_EQ(s->Process, tables.FindProcess(s->ProcessId));
  }
}

TEST_F(Tables, ResetActivityLeavesFilesAndSocketsAlone) {
  TProcessInfo* p = tables.FindOrCreateProcess(10, "");
  p->ThreadCount = 6;
  tables.Disks.push_back(std::make_unique<TDiskInfo>(&tables, "C:"));
  tables.Adapters.push_back(std::make_unique<TAdapterInfo>(&tables, "lo"));
  TSocketInfo* s = tables.FindOrCreateSocket(10, 1, 1);
  s->AddPacket(1);
  tables.ResetActivity();
  EXPECT_FALSE(p->Active);
  EXPECT_EQ(p->ThreadCount, 0);
  EXPECT_FALSE(tables.Disks[0]->Active);
  EXPECT_FALSE(tables.Adapters[0]->Active);
  EXPECT_TRUE(s->Active);
}

TEST_F(Tables, SweepTakesFinishedProcessesWithTheirFilesAndSockets) {
  RecordingLog log;
  tables.CompletionLog = &log;
  TProcessInfo* idle = tables.FindOrCreateProcess(0, "_Idle");
  TProcessInfo* keep = tables.FindOrCreateProcess(20, "keep");
  TProcessInfo* gone = tables.FindOrCreateProcess(10, "gone");
  TProcessInfo* gone2 = tables.FindOrCreateProcess(30, "gone2");
  TFileInfo* goneFile = tables.FindOrCreateFile(10, 2);
  goneFile->SetName("/tmp/x");
  goneFile->AddDiskIo(0, 1, 1);  // active: still goes with its process
  tables.FindOrCreateFile(10, 1);
  TFileInfo* keptFile = tables.FindOrCreateFile(20, 1);
  TSocketInfo* goneSocket = tables.FindOrCreateSocket(10, 5, 443);
  TSocketInfo* keptSocket = tables.FindOrCreateSocket(20, 5, 443);
  tables.FindOrCreateSocket(30, 5, 80);
  tables.Rows = {gone, goneFile, keep, goneSocket, keptFile};
  tables.FilterProcess = gone;
  tables.SelectedEntity = goneSocket;

  tables.ResetActivity();
  keep->Touch(true);
  tables.ProcessListChanged = false;
  tables.SweepProcesses();

  EXPECT_EQ(ProcessIds(tables), (std::vector<std::uint32_t>{0, 20}));
  EXPECT_EQ(tables.Processes[0].get(), idle);  // permanent although not marked active
  ASSERT_EQ(tables.Files.size(), 1U);
  EXPECT_EQ(tables.Files[0].get(), keptFile);
  ASSERT_EQ(tables.Sockets.size(), 1U);
  EXPECT_EQ(tables.Sockets[0].get(), keptSocket);
  EXPECT_EQ(tables.Rows, (std::vector<TInfo*>{keep, keptFile}));
  EXPECT_EQ(tables.FilterProcess, nullptr);
  EXPECT_EQ(tables.SelectedEntity, nullptr);
  EXPECT_TRUE(tables.ProcessListChanged);
  // From the end of the table: 30 first; for each, its files, then its sockets.
  EXPECT_EQ(log.lines, (std::vector<std::string>{"process gone2", "files done gone2", "socket 80",
                                                 "process gone", "file 1", "file 2 active",
                                                 "files done gone", "socket 443"}));
  (void)gone2;
}

TEST_F(Tables, SweepWithNothingFinishedChangesNothing) {
  tables.FindOrCreateProcess(3, "");
  tables.ProcessListChanged = false;
  tables.SweepProcesses();
  EXPECT_EQ(tables.Processes.size(), 1U);
  EXPECT_FALSE(tables.ProcessListChanged);
}

TEST_F(Tables, ExpireIdleRemovesOldEntriesAndSchedulesTheNextPrune) {
  TFileInfo* old = tables.FindOrCreateFile(1, 1);
  TFileInfo* older = tables.FindOrCreateFile(1, 2);
  TFileInfo* recent = tables.FindOrCreateFile(1, 3);
  TFileInfo* fresh = tables.FindOrCreateFile(1, 4);
  older->Touch(true);
  clock.Advance(100000);
  old->Touch(true);
  clock.Advance(150000);
  recent->Touch(true);
  clock.Advance(50000);
  fresh->Touch(true);
  // Idle now: older 300000, old 200000, recent 50000, fresh 0.
  tables.SelectedEntity = older;
  tables.Rows = {older, fresh};
  tables.ExpireIdleFiles();
  ASSERT_EQ(tables.Files.size(), 3U);
  EXPECT_EQ(tables.Files[0].get(), old);
  EXPECT_EQ(tables.SelectedEntity, nullptr);
  EXPECT_EQ(tables.Rows, (std::vector<TInfo*>{fresh}));
  // The oldest kept entry (200000 ms idle) reaches the limit in 100000 ms.
  EXPECT_EQ(tables.NextPruneTick, clock.Now() + 100000);

  // Nothing idle at all: the schedule stays as it was.
  tables.NextPruneTick = 12345;
  TSocketInfo* s = tables.FindOrCreateSocket(1, 1, 1);
  s->Touch(true);
  tables.ExpireIdleSockets();
  EXPECT_EQ(tables.Sockets.size(), 1U);
  EXPECT_EQ(tables.NextPruneTick, 12345U);
}

// Tens of thousands of listed files leaving at once cost one pass over the rows, in a prune
// as in the sweep of their process.
TEST_F(Tables, ManyListedEntitiesLeaveTheRowsInOnePass) {
  constexpr std::uint32_t kFiles = 20000;
  const auto listFiles = [&](std::uint32_t pid) {
    for (std::uint32_t object = 1; object <= kFiles; ++object) {
      TFileInfo* file = tables.FindOrCreateFile(pid, object);
      file->Touch(true);
      tables.Rows.push_back(file);
    }
  };
  TProcessInfo* worker = tables.FindOrCreateProcess(100, "worker");
  worker->Touch(true);
  tables.Rows.push_back(worker);
  listFiles(100);
  clock.Advance(IdleLimit);
  TFileInfo* fresh = tables.FindOrCreateFile(200, 1);
  fresh->Touch(true);
  tables.Rows.push_back(fresh);
  tables.ExpireIdleFiles();
  EXPECT_EQ(tables.Rows, (std::vector<TInfo*>{worker, fresh}));
  EXPECT_EQ(tables.Files.size(), 1u);
  EXPECT_LE(tables.RowSteps(), kFiles + 2);

  listFiles(100);
  const std::size_t before = tables.RowSteps();
  tables.ResetActivity();
  tables.FindProcess(200)->Touch(true);  // the worker has ended, the other runs on
  tables.SweepProcesses();
  EXPECT_EQ(tables.Rows, (std::vector<TInfo*>{fresh}));
  EXPECT_EQ(tables.Files.size(), 1u);
  EXPECT_LE(tables.RowSteps() - before, kFiles + 2);
}

TEST_F(Tables, PruneRunsWhenDueAndAcrossTheWrap) {
  EXPECT_TRUE(tables.PruneIfDue());  // NextPruneTick starts at 0: the first tick prunes
  EXPECT_EQ(tables.NextPruneTick, clock.Now() + IdleLimit);  // empty tables: five minutes
  clock.Advance(IdleLimit - 1);
  EXPECT_FALSE(tables.PruneIfDue());
  clock.Advance(1);
  EXPECT_TRUE(tables.PruneIfDue());

  clock.Set(0xFFFFFFFF - 1000);
  tables.NextPruneTick = 0;
  EXPECT_TRUE(tables.PruneIfDue());
  EXPECT_EQ(tables.NextPruneTick, static_cast<std::uint32_t>(0xFFFFFFFF - 1000 + IdleLimit));
}

TEST_F(Tables, UnnamedFilesExpireAtTheFirstPruneOnceTheMachineIsUp) {
  // Files are active only once named; an unnamed one has never been active, so its idle time
  // runs from tick 0.
  TFileInfo* unnamed = tables.FindOrCreateFile(1, 99);
  unnamed->AddDiskIo(0, 1, 1);
  EXPECT_TRUE(tables.PruneIfDue());
  EXPECT_TRUE(tables.Files.empty());
}

TEST_F(Tables, CloseIntervalsReachesEveryProcessFileAndSocket) {
  const ombrix::testing::ScopedSettings settings;
  Settings.Smooth = false;
  TFileInfo* f = tables.FindOrCreateFile(1, 1);
  TSocketInfo* s = tables.FindOrCreateSocket(1, 1, 1);
  TProcessInfo* p = tables.FindProcess(1);
  f->AddDiskIo(0, 10, 0);
  s->AddPacket(10);
  p->AddPacket(10);
  clock.Advance(1000);
  tables.CloseIntervals();
  EXPECT_DOUBLE_EQ(f->IoRateAvg.Mean(), 1.0);
  EXPECT_DOUBLE_EQ(s->PacketRateAvg.Mean(), 1.0);
  EXPECT_DOUBLE_EQ(p->PacketRateAvg.Mean(), 1.0);
}

}  // namespace
