// The recorder on a clock the test turns: folding after a day and retention after the days
// kept, one recorder per file, a private file, and the faults it survives (a damaged file,
// a file of someone else's, a full disk, a folder it cannot write), each told once.
#include "monitor/history/HistoryRecorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "monitor/history/HistoryStore.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TempDir.h"

namespace ombrix {
namespace {

using testing::TempDir;

constexpr std::int64_t T0 = 1713999960000;  // on a whole minute

THistorySample Tick(std::int64_t time, const std::string& name = "busy") {
  THistorySample s;
  s.Time = time;
  s.Span = 2000;
  s.Mean = s.Peak = {25, 40, 3, 1};
  s.Consumers = {{TConsumerKind::Processor, 4242, name, {}, 25},
                 {TConsumerKind::File, 4242, "/var/tmp/" + name, name, 1024}};
  return s;
}

class HistoryRecorderTest : public ::testing::Test {
 protected:
  THistoryOptions Options(std::int32_t days = 7) {
    return {path, days, [this] { return now.load(); }};
  }
  std::vector<THistorySample> Recorded() {
    return THistoryStore(path, THistoryStore::TAccess::Read).Samples(0, INT64_MAX, true);
  }
  std::vector<std::string> Aside() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
      if (entry.path().filename().string().starts_with("Ombrix.history.damaged-"))
        names.push_back(entry.path().string());
    return names;
  }

  TempDir dir;
  std::string path = dir.File("Ombrix.history");
  std::atomic<std::int64_t> now{T0};
};

// A tick every five minutes over eight days: the last day stays whole, the days before it
// are minutes, and what is older than the seven days kept is gone.
TEST_F(HistoryRecorderTest, FoldsAfterADayAndKeepsTheDaysAskedFor) {
  {
    THistoryRecorder recorder(Options(7));
    for (std::int64_t t = T0; t <= T0 + 8 * DayMs; t += 5 * MinuteMs) {
      now = t;
      recorder.Add(Tick(t));
      if ((t - T0) % DayMs == 0) recorder.Flush();  // as far apart as ticks: none let go
    }
    recorder.Flush();
    EXPECT_EQ(recorder.Status().State, THistoryState::Recording);
    EXPECT_EQ(recorder.Status().Written, 8u * 24 * 12 + 1);
    EXPECT_TRUE(recorder.TakeNotices().empty());
  }
  const std::vector<THistorySample> kept = Recorded();
  ASSERT_FALSE(kept.empty());
  const std::int64_t end = T0 + 8 * DayMs;
  EXPECT_GE(kept.front().Time, end - 7 * DayMs - DayMs / 24);  // dropped within the hour
  for (const THistorySample& s : kept) {
    EXPECT_EQ(s.Folded, s.Time < end - DayMs - MinuteMs) << s.Time - end;
    EXPECT_EQ(s.Consumers.size(), 2u);
  }
}

TEST_F(HistoryRecorderTest, ASecondRecorderOfTheSameFileRecordsNothing) {
  THistoryRecorder first(Options());
  THistoryRecorder second(Options());
  EXPECT_EQ(second.Status().State, THistoryState::OtherRecorder);
  EXPECT_NE(second.Status().Reason.find(path), std::string::npos);
  second.Add(Tick(T0, "second"));
  first.Add(Tick(T0 + 2000, "first"));
  first.Flush();
  second.Flush();
  const std::vector<THistorySample> kept = Recorded();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].Consumers[0].Name, "first");
  EXPECT_TRUE(second.TakeNotices().empty());  // said in the statistics, not as a fault
}

TEST_F(HistoryRecorderTest, NoDaysToKeepMakesNoFile) {
  THistoryRecorder recorder(Options(0));
  recorder.Add(Tick(T0));
  recorder.Flush();
  EXPECT_EQ(recorder.Status().State, THistoryState::Off);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(HistoryRecorderTest, TheFileAndItsLogAreTheUsersAlone) {
  const mode_t before = umask(022);
  THistoryRecorder recorder(Options());
  umask(before);
  recorder.Add(Tick(T0));
  recorder.Flush();
  for (const std::string& file : {path, path + "-wal"}) {
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
}

TEST_F(HistoryRecorderTest, ADamagedFileIsMovedAsideWholeAndANewOneStarted) {
  const std::string garbage(10000, '\x5a');
  dir.Write("Ombrix.history", garbage);
  {
    THistoryRecorder recorder(Options());
    recorder.Add(Tick(T0));
    recorder.Flush();
    EXPECT_EQ(recorder.Status().State, THistoryState::Recording);
    const std::vector<std::string> notices = recorder.TakeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("was damaged; it was moved aside as " + path + ".damaged-"),
              std::string::npos)
        << notices[0];
    EXPECT_TRUE(recorder.TakeNotices().empty());
  }
  const std::vector<std::string> aside = Aside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(dir.Read(std::filesystem::path(aside[0]).filename()), garbage);
  EXPECT_EQ(Recorded().size(), 1u);
}

// Pages damaged in the middle of a file that opens: the check at the start finds them.
TEST_F(HistoryRecorderTest, DamageInsideAFileThatOpensIsFoundAtTheStart) {
  {
    THistoryRecorder recorder(Options());
    for (int i = 0; i < 400; ++i) recorder.Add(Tick(T0 + i * 2000, "name-" + std::to_string(i)));
  }
  ASSERT_GT(std::filesystem::file_size(path), 5 * 4096u);
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(3 * 4096);
    const std::string scrawl(2 * 4096, '\x01');
    file.write(scrawl.data(), static_cast<std::streamsize>(scrawl.size()));
  }
  THistoryRecorder recorder(Options());
  recorder.Add(Tick(T0 + 1000000));
  recorder.Flush();
  EXPECT_EQ(recorder.TakeNotices().size(), 1u);
  EXPECT_EQ(Aside().size(), 1u);
  EXPECT_EQ(recorder.Status().State, THistoryState::Recording);
}

TEST_F(HistoryRecorderTest, SomeoneElsesDatabaseIsLeftAsItIs) {
  {
    TSqliteDatabase other(path, TSqliteDatabase::TAccess::ReadWrite);
    other.Exec("CREATE TABLE recipes(name TEXT)");
  }
  const auto size = std::filesystem::file_size(path);
  THistoryRecorder recorder(Options());
  recorder.Add(Tick(T0));
  recorder.Flush();
  const THistoryStatus status = recorder.Status();
  EXPECT_EQ(status.State, THistoryState::Stopped);
  EXPECT_NE(status.Reason.find("left as it is"), std::string::npos) << status.Reason;
  EXPECT_EQ(recorder.TakeNotices().size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(path), size);
  EXPECT_TRUE(Aside().empty());
}

TEST_F(HistoryRecorderTest, AFolderThatCannotBeWrittenStopsTheRecordingOnce) {
  path = dir.File("no-such-folder/Ombrix.history");
  THistoryRecorder recorder(Options());
  recorder.Add(Tick(T0));
  EXPECT_EQ(recorder.Status().State, THistoryState::Stopped);
  const std::vector<std::string> notices = recorder.TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("cannot open " + path), std::string::npos) << notices[0];
}

// A small file system fills up: the recording stops with one message, the samples written
// before stay readable, and adding more is harmless.
TEST_F(HistoryRecorderTest, AFullDiskStopsTheRecordingOnceAndKeepsWhatWasWritten) {
  testing::SmallDisk disk(512 * 1024);
  if (!disk.Ready()) GTEST_SKIP() << disk.Reason();
  path = disk.Path() + "/Ombrix.history";
  THistoryRecorder recorder(Options());
  const std::string longName(300, 'n');
  for (int i = 0; i < 5000 && recorder.Status().State == THistoryState::Recording; ++i) {
    now = T0 + i * 2000;
    recorder.Add(Tick(now, longName + std::to_string(i)));
    if (i % 50 == 0) recorder.Flush();
  }
  recorder.Flush();
  const THistoryStatus status = recorder.Status();
  ASSERT_EQ(status.State, THistoryState::Stopped);
  EXPECT_NE(status.Reason.find("is full"), std::string::npos) << status.Reason;
  EXPECT_EQ(recorder.TakeNotices().size(), 1u);
  recorder.Add(Tick(now + 2000));
  recorder.Flush();
  EXPECT_TRUE(recorder.TakeNotices().empty());
  EXPECT_GT(status.Written, 3u);
  EXPECT_EQ(THistoryStore(path, THistoryStore::TAccess::Read).SampleCount(),
            static_cast<std::int64_t>(status.Written));
}

}  // namespace
}  // namespace ombrix
