#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/checked/Checked.h"
#include "platform/paths/Paths.h"
#include "platform/procstatus/ProcessStatus.h"
#include "platform/tickcount/TickCount.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

#include <unistd.h>

namespace {

TEST(Checked, RaisesInsteadOfWrapping) {
  EXPECT_EQ(platform::CheckedAdd<std::int32_t>(2, 3), 5);
  EXPECT_THROW(platform::CheckedAdd<std::int32_t>(std::numeric_limits<std::int32_t>::max(), 1),
               platform::EIntOverflow);
  EXPECT_THROW(platform::CheckedSub<std::uint32_t>(1, 2), platform::EIntOverflow);
  EXPECT_THROW(platform::CheckedMul<std::int64_t>(std::int64_t{1} << 62, 4),
               platform::EIntOverflow);
  EXPECT_EQ(platform::CheckedCast<std::int32_t>(std::int64_t{-7}), -7);
  EXPECT_THROW(platform::CheckedCast<std::int32_t>(std::int64_t{1} << 31), platform::ERangeError);
  EXPECT_THROW(platform::CheckedCast<std::uint32_t>(-1), platform::ERangeError);
  EXPECT_EQ(platform::CheckedIndex(2, 3), 2u);
  EXPECT_THROW(platform::CheckedIndex(3, 3), platform::ERangeError);
  EXPECT_THROW(platform::CheckedIndex(-1, 3), platform::ERangeError);
}

TEST(TickCount, FakeClockReplacesTheMonotonicOneAndWraps) {
  {
    ombrix::testing::FakeClock clock(0xFFFFFFF0u);
    EXPECT_EQ(platform::GetTickCount(), 0xFFFFFFF0u);
    clock.Advance(0x20);
    EXPECT_EQ(platform::GetTickCount(), 0x10u);
    // Differences across the wrap stay right in unsigned arithmetic.
    EXPECT_EQ(platform::GetTickCount() - 0xFFFFFFF0u, 0x20u);
  }
  const std::uint32_t a = platform::GetTickCount();
  const std::uint32_t b = platform::GetTickCount();
  EXPECT_LT(b - a, 1000u);  // the real clock is back and does not run backwards
}

TEST(Paths, SplitsAndChangesExtensions) {
  EXPECT_EQ(platform::ChangeFileExt("/opt/Ombrix/Ombrix", ".ini"), "/opt/Ombrix/Ombrix.ini");
  EXPECT_EQ(platform::ChangeFileExt("/a.b/prog", ".log"), "/a.b/prog.log");
  EXPECT_EQ(platform::ChangeFileExt("/a/prog.exe", ".ini"), "/a/prog.ini");
  EXPECT_EQ(platform::ExtractFileName("C:\\dir\\readme.txt"), "readme.txt");
  EXPECT_EQ(platform::ExtractFileName("/x/y.txt"), "y.txt");
  EXPECT_EQ(platform::ExtractFilePath("/x/y.txt"), "/x/");
  EXPECT_EQ(platform::ExtractFilePath("y.txt"), "");
  EXPECT_FALSE(platform::ProgramPath().empty());
  EXPECT_EQ(platform::ProgramDir().back(), '/');
}

TEST(Paths, SettingsFileBesideAWritableProgram) {
  platform::SettingsFileFacts f;
  f.ProgramPath = "/home/u/Ombrix/Ombrix";
  f.ProgramDirWritable = true;
  f.Home = "/home/u";
  f.Exists = [](const std::string&) { return true; };
  const auto where = platform::ChooseSettingsFile(f);
  EXPECT_EQ(where.Load, "/home/u/Ombrix/Ombrix.ini");
  EXPECT_EQ(where.Save, "/home/u/Ombrix/Ombrix.ini");
}

TEST(Paths, SettingsFileInTheUsersConfigWhenTheProgramFolderIsReadOnly) {
  platform::SettingsFileFacts f;
  f.ProgramPath = "/opt/Ombrix/Ombrix";
  f.ProgramDirWritable = false;
  f.Home = "/home/u";
  bool userFileExists = false;
  f.Exists = [&](const std::string& p) {
    return userFileExists && p == "/home/u/.config/Ombrix/Ombrix.ini";
  };
  auto where = platform::ChooseSettingsFile(f);
  EXPECT_EQ(where.Save, "/home/u/.config/Ombrix/Ombrix.ini");
  EXPECT_EQ(where.Load, "/opt/Ombrix/Ombrix.ini");  // the installed defaults until the user saves
  userFileExists = true;
  EXPECT_EQ(platform::ChooseSettingsFile(f).Load, "/home/u/.config/Ombrix/Ombrix.ini");

  f.XdgConfigHome = "/cfg";
  EXPECT_EQ(platform::ChooseSettingsFile(f).Save, "/cfg/Ombrix/Ombrix.ini");
  f.XdgConfigHome = "relative/ignored";
  EXPECT_EQ(platform::ChooseSettingsFile(f).Save, "/home/u/.config/Ombrix/Ombrix.ini");
}

// Runs a copy of the path reporter, named name in a fresh folder, that changes its own file
// as `change` says; returns the lines it printed.
std::vector<std::string> RunReporter(const ombrix::testing::TempDir& dir, const std::string& name,
                                     const std::string& change) {
  const std::string copy = dir.File(name);
  std::filesystem::copy_file(platform::ProgramDir() + "program_path_child", copy);
  FILE* out = popen(("'" + copy + "' " + change).c_str(), "r");
  std::vector<std::string> lines;
  if (out == nullptr) return lines;
  char line[4096];
  while (std::fgets(line, sizeof line, out) != nullptr) {
    lines.emplace_back(line);
    lines.back().pop_back();  // the newline
  }
  EXPECT_EQ(pclose(out), 0);
  return lines;
}

TEST(Paths, FilesBesideTheProgramStayPutWhenItsFileIsReplacedOrMoved) {
  ombrix::testing::TempDir dir;
  const std::vector<std::string> expected = {dir.File("Ombrix"), dir.File("Ombrix.ini"),
                                             dir.File("trace.txt")};
  EXPECT_EQ(RunReporter(dir, "Ombrix", "replace"), expected);
  std::filesystem::remove(dir.File("Ombrix"));
  EXPECT_EQ(RunReporter(dir, "Ombrix", "remove"), expected);
  // Found at start-up, the path holds when the file moves on later.
  EXPECT_EQ(RunReporter(dir, "Ombrix", "ask-then-move"), expected);
  // A program really named with the kernel's mark keeps its name.
  EXPECT_EQ(RunReporter(dir, "Ombrix (deleted)", "none"),
            (std::vector<std::string>{dir.File("Ombrix (deleted)"),
                                      dir.File("Ombrix (deleted).ini"), dir.File("trace.txt")}));
}

TEST(ProcessStatus, ImagePathOfThisProcessAndOfNone) {
  EXPECT_EQ(platform::ProcessImagePath(static_cast<std::uint32_t>(getpid())),
            platform::ProgramPath());
  EXPECT_EQ(platform::ProcessImagePath(0xFFFFFFF0u), "");
}

}  // namespace
