#include "monitor/settings/Settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/InChild.h"
#include "tests/support/TempDir.h"

namespace {

using ombrix::ESettingsError;
using ombrix::LoadSettingsFrom;
using ombrix::SaveSettingsTo;
using ombrix::Settings;
using ombrix::TSettings;

class SettingsFile : public ::testing::Test {
 protected:
  void Load(const std::string& body, int memoryLimit = 4096) {
    dir.Write("Ombrix.ini", body);
    LoadSettingsFrom(path(), memoryLimit);
  }
  std::string path() const { return dir.File("Ombrix.ini"); }
  ombrix::testing::TempDir dir;
};

TEST_F(SettingsFile, NoFileGivesEveryDefault) {
  Settings.Interval = 1;  // every field must be assigned by the load
  Settings.SmoothChanged = true;
  EXPECT_EQ(LoadSettingsFrom(dir.File("absent.ini"), 2048), "");  // nothing to tell
  TSettings expected;
  expected.MemoryMBytes = {2048, 25, 5, 2048};  // falling scale: green at the top
  EXPECT_EQ(Settings, expected);
  EXPECT_EQ(Settings.CpuInuse.Green, 0);
  EXPECT_EQ(Settings.NetworkBusy.Green, 0);
}

TEST_F(SettingsFile, MemoryLimitZeroOrNegativeMeans1024) {
  LoadSettingsFrom(dir.File("absent.ini"), 0);
  EXPECT_EQ(Settings.MemoryMBytes.Max, 1024);
  LoadSettingsFrom(dir.File("absent.ini"), -5);
  EXPECT_EQ(Settings.MemoryMBytes.Max, 1024);
}

TEST_F(SettingsFile, IntegersOutsideTheirRangeTakeTheDefault) {
  Load("[Settings]\nInterval=999\nSmoothCount=1\nWidth=99\nHeight=100\n");
  EXPECT_EQ(Settings.Interval, 2000);
  EXPECT_EQ(Settings.SmoothCount, 5);
  EXPECT_EQ(Settings.Width, 587);
  EXPECT_EQ(Settings.Height, 100);
  Load("[Settings]\nInterval=60001\nSmoothCount=61\n");
  EXPECT_EQ(Settings.Interval, 2000);
  EXPECT_EQ(Settings.SmoothCount, 5);
  Load("[Settings]\nInterval=1000\nSmoothCount=60\n");
  EXPECT_EQ(Settings.Interval, 1000);
  EXPECT_EQ(Settings.SmoothCount, 60);
  Load("[Settings]\nInterval=60000\nSmoothCount=2\n");
  EXPECT_EQ(Settings.Interval, 60000);
  EXPECT_EQ(Settings.SmoothCount, 2);
}

TEST_F(SettingsFile, HexadecimalAndUnreadableIntegers) {
  Load("[Settings]\nInterval=0x7D0\nSmoothCount=0X0A\nWidth=0x\nHeight=abc\n");
  EXPECT_EQ(Settings.Interval, 2000);
  EXPECT_EQ(Settings.SmoothCount, 10);
  EXPECT_EQ(Settings.Width, 587);
  EXPECT_EQ(Settings.Height, 415);
  Load("[Settings]\nInterval=1500x\nSmoothCount=99999999999\nWidth=0x1F4\n");
  EXPECT_EQ(Settings.Interval, 2000);
  EXPECT_EQ(Settings.SmoothCount, 5);
  EXPECT_EQ(Settings.Width, 500);
}

TEST_F(SettingsFile, OnlyTheWordFalseIsFalse) {
  Load(
      "[Settings]\nSmooth=FALSE\nGetHostNames=fAlSe\nIncludeOtherIos=0\n"
      "LogProcesses=no\nAlwaysOnTop=\nShowPseudoProcesses=True\n");
  EXPECT_FALSE(Settings.Smooth);
  EXPECT_FALSE(Settings.GetHostNames);
  EXPECT_TRUE(Settings.IncludeOtherIos);
  EXPECT_TRUE(Settings.LogProcesses);
  EXPECT_TRUE(Settings.AlwaysOnTop);
  EXPECT_TRUE(Settings.ShowPseudoProcesses);
  EXPECT_FALSE(Settings.DiskInuseTrace);
  EXPECT_FALSE(Settings.SmoothChanged);
}

TEST_F(SettingsFile, ThresholdLevelsFallBackOneByOne) {
  Load(
      "[Settings]\nCpuInuseRed=101\nCpuInuseYellow=80\nDiskBusyRed=75\nDiskBusyYellow=75\n"
      "MemoryMBytesRed=-1\nMemoryMBytesYellow=5000\nNetworkBusyRed=3\nNetworkBusyYellow=50\n");
  EXPECT_EQ(Settings.CpuInuse.Red, 90);
  EXPECT_EQ(Settings.CpuInuse.Yellow, 80);
  EXPECT_EQ(Settings.DiskBusy.Green, 0);  // equal levels count as rising
  EXPECT_EQ(Settings.MemoryMBytes.Red, 5);
  EXPECT_EQ(Settings.MemoryMBytes.Yellow, 25);  // above the memory limit of 4096
  EXPECT_EQ(Settings.MemoryMBytes.Green, 4096);
  // A pair stored the other way round turns the scale around.
  EXPECT_EQ(Settings.NetworkBusy.Red, 3);
  EXPECT_EQ(Settings.NetworkBusy.Green, 100);
}

TEST_F(SettingsFile, GarbageLoadsWithDefaults) {
  std::string body =
      "\x01\x02\xff\n[Settings\nInterval\n=5\nInterval=1500\nInterval=3000\nSmoothCount=";
  body += std::string(100000, '7');
  body.append("\nWidth=\0\n", 9);
  Load(body);
  EXPECT_EQ(Settings.Interval, 1500);  // the first of duplicate keys counts
  EXPECT_EQ(Settings.SmoothCount, 5);
  EXPECT_EQ(Settings.Width, 587);
  Load("Interval=1500\n");  // no section header at all
  EXPECT_EQ(Settings.Interval, 2000);
}

TEST_F(SettingsFile, SavingDefaultsWritesThresholdsAndSizeOnly) {
  dir.Write("Ombrix.ini", "[Other]\nkeep=me\n[Settings]\nInterval=3000\nStale=1\n");
  Settings = TSettings();
  SaveSettingsTo(path());
  EXPECT_EQ(dir.Read("Ombrix.ini"),
            "[Other]\nkeep=me\n[Settings]\n"
            "CpuInuseRed=90\nCpuInuseYellow=75\nCpuQueueDepthRed=9\nCpuQueueDepthYellow=6\n"
            "MemoryInuseRed=98\nMemoryInuseYellow=85\nMemoryMBytesRed=5\nMemoryMBytesYellow=25\n"
            "DiskBusyRed=85\nDiskBusyYellow=50\nDiskQueueDepthRed=5\nDiskQueueDepthYellow=2\n"
            "NetworkBusyRed=25\nNetworkBusyYellow=5\nWidth=587\nHeight=415\n");
}

TEST_F(SettingsFile, SavingChangedFlagsWritesOnlyThoseAndLoadsThemBack) {
  Settings = TSettings();
  Settings.Smooth = false;
  Settings.LogProcesses = true;
  Settings.SmoothCount = 99;  // not clamped on save, refused on the next load
  Settings.Width = 800;
  SaveSettingsTo(path());
  const std::string text = dir.Read("Ombrix.ini");
  EXPECT_EQ(text.find("[Settings]\nSmooth=False\nSmoothCount=99\nLogProcesses=True\nCpuInuseRed="),
            0u);
  EXPECT_EQ(text.find("GetHostNames"), std::string::npos);
  EXPECT_EQ(text.find("IncludeOtherIos"), std::string::npos);

  Settings = TSettings();
  LoadSettingsFrom(path(), 1024);
  EXPECT_FALSE(Settings.Smooth);
  EXPECT_TRUE(Settings.LogProcesses);
  EXPECT_EQ(Settings.SmoothCount, 5);
  EXPECT_EQ(Settings.Width, 800);
}

TEST_F(SettingsFile, AssumedBandwidthIsBitsPerSecondBeyond32Bits) {
  Load("[Settings]\nAssumedBandwidth=10000000000\n");
  EXPECT_EQ(Settings.AssumedBandwidth, 10000000000);
  for (const char* refused : {"999", "0", "-5", "1000000000001", "54M", "0x100000", ""}) {
    Load(std::string("[Settings]\nAssumedBandwidth=") + refused + "\n");
    EXPECT_EQ(Settings.AssumedBandwidth, 1000000000) << refused;
  }
  Settings.AssumedBandwidth = 54000000;
  SaveSettingsTo(path());
  EXPECT_NE(dir.Read("Ombrix.ini").find("\nAssumedBandwidth=54000000\nWidth="), std::string::npos);
  Settings = TSettings();
  LoadSettingsFrom(path(), 1024);
  EXPECT_EQ(Settings.AssumedBandwidth, 54000000);
}

TEST_F(SettingsFile, HistoryDaysFromNoneToAYearWrittenBackWhenChanged) {
  Load("[Settings]\nHistoryDays=0\n");
  EXPECT_EQ(Settings.HistoryDays, 0);
  Load("[Settings]\nHistoryDays=366\n");
  EXPECT_EQ(Settings.HistoryDays, 366);
  for (const char* refused : {"-1", "367", "week", ""}) {
    Load(std::string("[Settings]\nHistoryDays=") + refused + "\n");
    EXPECT_EQ(Settings.HistoryDays, 7) << refused;
  }
  SaveSettingsTo(path());
  EXPECT_EQ(dir.Read("Ombrix.ini").find("HistoryDays"), std::string::npos);  // the default
  Settings.HistoryDays = 0;
  SaveSettingsTo(path());
  Settings = TSettings();
  LoadSettingsFrom(path(), 1024);
  EXPECT_EQ(Settings.HistoryDays, 0);
}

TEST_F(SettingsFile, AFailedSaveRaisesAndKeepsTheOldFile) {
  Settings = TSettings();
  const std::string missing = dir.File("no-such-folder/Ombrix.ini");
  try {
    SaveSettingsTo(missing);
    FAIL() << "the save should have failed";
  } catch (const ombrix::ESettingsError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + missing);
  }

  // A folder in the file's place cannot be replaced either, and stays as it was.
  mkdir(dir.File("taken.ini").c_str(), 0755);
  dir.Write("taken.ini/inside", "x");
  EXPECT_THROW(SaveSettingsTo(dir.File("taken.ini")), ombrix::ESettingsError);
  EXPECT_EQ(dir.Read("taken.ini/inside"), "x");
}

TEST_F(SettingsFile, AReadOnlyFolderKeepsTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into read-only folders";
  dir.Write("Ombrix.ini", "[Settings]\nInterval=3000\n");
  Settings = TSettings();
  chmod(dir.Path().c_str(), 0555);
  EXPECT_THROW(SaveSettingsTo(path()), ombrix::ESettingsError);
  chmod(dir.Path().c_str(), 0755);
  EXPECT_EQ(dir.Read("Ombrix.ini"), "[Settings]\nInterval=3000\n");
}

// What a save must do when the load could not read the file: leave it alone.
int LoadThenSave(const std::string& file, const std::string& why) {
  Settings.Interval = 1;
  const std::string notice = LoadSettingsFrom(file, 4096);
  if (Settings.Interval != 2000) return 1;
  if (notice != "Unable to read " + file + ": " + why + "; the default settings are used") return 2;
  try {
    SaveSettingsTo(file);
  } catch (const ESettingsError& e) {
    return std::string(e.what()) == "Unable to write to " + file ? 0 : 3;
  }
  return 4;
}

TEST_F(SettingsFile, AFileThatCannotBeReadGivesTheDefaultsAndIsNeverOverwritten) {
  const std::string original = "[Other]\nkeep=me\n[Settings]\nInterval=3000\n";
  dir.Write("Ombrix.ini", original);
  chmod(dir.Path().c_str(), 0777);  // a replacement could be renamed into its place
  chmod(path().c_str(), 0);
  if (geteuid() == 0) {  // the file of the user who saves, unreadable only by its mode
    const auto user = ombrix::testing::Nobody();
    ASSERT_EQ(chown(path().c_str(), user.Uid, user.Gid), 0);
  }
  const std::string file = path();
  EXPECT_EQ(ombrix::testing::InChild(
                [&] {
                  const int step = LoadThenSave(file, "Permission denied");
                  return step == 0 ? std::string() : "failed at step " + std::to_string(step);
                },
                ombrix::testing::ChildUser::Nobody),
            "");
  chmod(path().c_str(), 0600);
  EXPECT_EQ(dir.Read("Ombrix.ini"), original);

  // A named pipe in the file's place neither holds the load nor is replaced.
  ASSERT_EQ(mkfifo(dir.File("pipe.ini").c_str(), 0600), 0);
  EXPECT_EQ(LoadThenSave(dir.File("pipe.ini"), "not a regular file"), 0);
  struct stat st {};
  ASSERT_EQ(stat(dir.File("pipe.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SettingsFile, ARootSaveLeavesTheUsersFileTheUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can save another user's file";
  dir.Write("Ombrix.ini", "[Settings]\nInterval=3000\n");
  chmod(dir.Path().c_str(), 0755);
  chmod(path().c_str(), 0600);
  const auto user = ombrix::testing::Nobody();
  ASSERT_EQ(chown(path().c_str(), user.Uid, user.Gid), 0);
  Settings = TSettings();
  Settings.Interval = 5000;
  SaveSettingsTo(path());
  struct stat st {};
  ASSERT_EQ(stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, user.Uid);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // The user's next run reads what root saved.
  const std::string file = path();
  EXPECT_EQ(ombrix::testing::InChild(
                [&] {
                  const bool read = LoadSettingsFrom(file, 4096).empty();
                  return read && Settings.Interval == 5000 ? std::string() : "not read back";
                },
                ombrix::testing::ChildUser::Nobody),
            "");
}

}  // namespace
