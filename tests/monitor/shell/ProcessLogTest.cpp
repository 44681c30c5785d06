// The completed-process log: its exact lines for a finished process with its files and
// sockets, the start and stop records, appending across runs, and where the file goes.
#include <gtest/gtest.h>

#include "monitor/model/FileNames.h"
#include "monitor/model/ModelLock.h"
#include "monitor/network/PortNames.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/ProcessLog.h"
#include "platform/paths/Paths.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ScopedSettings.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using namespace ombrix::testing;

platform::LocalTime At(int h, int m, int s) {
  platform::LocalTime t;
  t.Year = 2024;
  t.Month = 3;
  t.Day = 9;
  t.Hour = h;
  t.Minute = m;
  t.Second = s;
  return t;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

class ProcessLogLines : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.LogProcesses = true;
    log.OpenAppend(dir.File("Ombrix.log"));
    tables.CompletionLog = &writer;
  }

  std::vector<std::string> Sweep() {
    tables.SweepProcesses();
    log.Close();
    return Lines(dir.Read("Ombrix.log"));
  }

  TempDir dir;
  FakeClock clock{5000};
  TTextFile log;
  TProcessLogWriter writer{log, [] { return At(7, 5, 9); }};
  TEntityTables tables;
  std::lock_guard<std::recursive_mutex> lock{ModelLock};
  // Last, so that the settings are back before the tables above go.
  ombrix::testing::ScopedSettings settings_{TSettings{}};
};

TEST_F(ProcessLogLines, AProcessWithNamedUnnamedAndIdleFilesAndItsSockets) {
  TProcessInfo* p = tables.FindOrCreateProcess(77, "app");
  clock.Set(5000 + 12500);  // 12.5 s watched: halves go to the even neighbour
  TFileInfo* named = tables.FindOrCreateFile(77, 1);
  named->SetName("/home/u/Notes.TXT");
  named->IoCount = 4;
  named->ByteCount = 16384;
  TFileInfo* idle = tables.FindOrCreateFile(77, 2);
  idle->SetName("/etc/hosts");  // named but no I/O: not logged
  for (std::uint32_t object = 3; object <= 5; ++object) {
    TFileInfo* f = tables.FindOrCreateFile(77, object);
    f->IoCount = object == 3 ? 6 : 2;
    f->ByteCount = 1000;
  }
  PortNames[443] = "https";
  TSocketInfo* s = tables.FindOrCreateSocket(77, 0x7F000001, 443);
  s->PacketCount = 9;
  s->ByteCount = 5400;
  tables.FindOrCreateSocket(77, 0x7F000001, 80);         // never carried a packet: not logged
  tables.FindOrCreateProcess(78, "other")->Touch(true);  // still running
  p->Touch(false);

  const auto lines = Sweep();
  const std::vector<std::string> expected = {
      LogDateLine(At(7, 5, 9)),
      "07:05:09  Process  app  (partial)",
      "                   ProcessId: 77, Elapsed: 12 seconds",
      "          File     /home/u/notes.txt",
      "                   Counts: 4 IOs, 16384 bytes transferred",
      "          File     <unknown>",
      "                   Counts: 3 files, 10 IOs, 3000 bytes transferred",
      "          Socket   https - 443",
      "                   Remote Host: 127.0.0.1",
      "                   Counts: 9 packets, 5400 bytes transferred",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(tables.Files.empty());
  EXPECT_TRUE(tables.Sockets.empty());
  EXPECT_NE(tables.FindProcess(78), nullptr);
}

TEST_F(ProcessLogLines, AnObservedStartIsNotPartialAndUnnamedFilesWithoutIoAreSilent) {
  TProcessInfo* p = tables.FindOrCreateProcess(5, "short");
  p->Partial = false;
  tables.FindOrCreateFile(5, 9)->ByteCount = 0;  // unnamed, no I/O
  clock.Set(5000 + 1499);
  p->Touch(false);
  const auto lines = Sweep();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "07:05:09  Process  short");
  EXPECT_EQ(lines[2], "                   ProcessId: 5, Elapsed: 1 seconds");
}

TEST_F(ProcessLogLines, NothingIsWrittenWithLoggingOffButEverythingLeaves) {
  Settings.LogProcesses = false;
  tables.FindOrCreateProcess(5, "quiet")->Touch(false);
  tables.FindOrCreateFile(5, 1)->IoCount = 3;
  tables.FindOrCreateSocket(5, 1, 1)->PacketCount = 3;
  EXPECT_TRUE(Sweep().empty());
  EXPECT_TRUE(tables.Processes.empty());
  EXPECT_TRUE(tables.Files.empty());
  EXPECT_TRUE(tables.Sockets.empty());
}

TEST(ProcessLogTimes, WatchedSecondsRoundHalvesToEvenAndStopAtAWrap) {
  EXPECT_EQ(WatchedSeconds(1000, 3500), 2);
  EXPECT_EQ(WatchedSeconds(1000, 4500), 4);
  EXPECT_EQ(WatchedSeconds(1000, 2501), 2);
  EXPECT_EQ(WatchedSeconds(1000, 1000), 0);
  EXPECT_EQ(WatchedSeconds(0xFFFFF000u, 10), 0);
  EXPECT_EQ(LogTimeStamp(At(23, 0, 7)), "23:00:07");
  EXPECT_FALSE(LogDateLine(At(7, 5, 9)).empty());
}

TEST(ProcessLogRecords, TwoRunsAppendToOneFile) {
  TempDir dir;
  const auto clock = [] { return At(9, 1, 2); };
  const std::string file = dir.File("Ombrix.log");
  OpenProcessLog(file, "/opt/Ombrix/Ombrix", clock);
  WriteStopRecord("/opt/Ombrix/Ombrix", clock);
  CloseProcessLog();
  OpenProcessLog(file, "/opt/Ombrix/Ombrix", clock);
  CloseProcessLog();  // ended with the session: no stop record
  const auto lines = Lines(dir.Read("Ombrix.log"));
  const std::string date = LogDateLine(At(9, 1, 2));
  EXPECT_EQ(lines, (std::vector<std::string>{date, "09:01:02  Start    /opt/Ombrix/Ombrix", date,
                                             "09:01:02  Stop     /opt/Ombrix/Ombrix", date,
                                             "09:01:02  Start    /opt/Ombrix/Ombrix"}));
}

TEST(ProgramFiles, BesideTheProgramElseInTheUsersStateFolder) {
  platform::SettingsFileFacts f;
  f.ProgramPath = "/opt/Ombrix/Ombrix";
  f.Home = "/home/u";
  EXPECT_EQ(platform::ChooseProgramFile(f, "Ombrix.log"), "/opt/Ombrix/Ombrix.log");
  f.ProgramDirWritable = false;
  EXPECT_EQ(platform::ChooseProgramFile(f, "trace.txt"), "/home/u/.local/state/Ombrix/trace.txt");
  f.XdgStateHome = "/state";
  EXPECT_EQ(platform::ChooseProgramFile(f, "Ombrix.log"), "/state/Ombrix/Ombrix.log");
  f.XdgStateHome = "relative/state";  // ignored, as the base directory rules say
  EXPECT_EQ(platform::ChooseProgramFile(f, "Ombrix.log"), "/home/u/.local/state/Ombrix/Ombrix.log");
  f.Home.clear();
  f.XdgStateHome.clear();
  EXPECT_EQ(platform::ChooseProgramFile(f, "Ombrix.log"), "/opt/Ombrix/Ombrix.log");
}

}  // namespace
}  // namespace ombrix
