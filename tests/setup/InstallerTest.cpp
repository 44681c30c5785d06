#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/installer/KeyStore.h"
#include "tests/platform/installer/SzddBuilder.h"
#include "tests/setup/InstallFixture.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ombrix::setup::cmAsk;
using ombrix::setup::cmOptional;
using ombrix::setup::cmRequired;
using ombrix::setup::ESetupError;
using ombrix::testing::InstallFixture;
using ombrix::testing::SzddLiterals;

class Install : public InstallFixture {};

TEST_F(Install, ProgressMaximumCountsWordsShortcutsAndUninstall) {
  script.Files = "a b";
  EXPECT_EQ(installer.ProgressMaximum(), 9);  // 2 + 3 + 1 + 3
  installer.Options.AddShortCuts = false;
  script.RegisterUninstall = false;
  script.OptionalFiles = "\"x y\" z";
  script.CheckedFiles = "c";
  EXPECT_EQ(installer.ProgressMaximum(), 2 + 6);
  script.Files = "";
  script.OptionalFiles = "";
  script.CheckedFiles = "";
  EXPECT_EQ(installer.ProgressMaximum(), 2 + 1);
}

TEST_F(Install, InstallsFilesUninstallerShortcutsAndEntry) {
  const std::string readme = "Read me first.\nThis text is long enough to be worth packing.\n";
  Source("readme.tx_", SzddLiterals(readme));
  script.OptionalFiles = "readme.txt missing.txt";
  script.LicenseFile = "";
  script.Url = "https://example.org/app";
  installer.Options.AddToStartup = true;
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  EXPECT_TRUE(view.Errors.empty());
  EXPECT_EQ(installer.InstallDir, Dir());
  EXPECT_EQ(tmp.Read("inst/app"), tmp.Read("src/app"));
  EXPECT_EQ(tmp.Read("inst/data.bin"), std::string("\x00\x01\x02 data", 8));
  EXPECT_EQ(tmp.Read("inst/readme.txt"), readme);
  EXPECT_FALSE(Exists("inst/missing.txt"));
  EXPECT_EQ(tmp.Read("inst/uninstall.exe"), "the installer program");
  EXPECT_EQ(tmp.Read("inst/setup.inf"), tmp.Read("src/setup.inf"));
  EXPECT_FALSE(Exists("inst/setup"));
  EXPECT_TRUE(Exists("menu/App/App Main.desktop"));
  EXPECT_TRUE(Exists("start/App.desktop"));
  EXPECT_NE(tmp.Read("start/App.desktop").find("Exec=\"" + Dir() + "app\""), std::string::npos);

  const auto values = platform::KeyStore(tmp.File("keys")).ReadKey(installer.UninstallKey());
  ASSERT_TRUE(values.has_value());
  std::vector<std::string> names;
  for (const auto& v : *values) names.push_back(v.Name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"DisplayName", "HelpLink", "Publisher", "InstallLocation",
                                      "UninstallString", "NoRepair", "NoModify"}));
  EXPECT_EQ(std::get<std::string>((*values)[3].Value), Dir());
  EXPECT_EQ(std::get<std::string>((*values)[4].Value), "\"" + Dir() + "uninstall.exe\"");
  EXPECT_EQ(std::get<std::uint32_t>((*values)[6].Value), 1u);
  // Directory, app, data.bin, 2 optional words, the empty licence word, 2 uninstaller
  // files, the menu shortcuts, the startup shortcut, the entry.
  EXPECT_EQ(view.Steps, 11);
}

TEST_F(Install, EmptyListsCopyOnlyTheProgram) {
  script.Files = "";
  script.RegisterUninstall = false;
  installer.Options.AddShortCuts = false;
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst") + "/"));
  int copies = 0;
  for (const auto& s : view.Statuses) copies += s.rfind("Copying file...|", 0) == 0;
  // app, then two empty words: the optional list is " " + the quoted empty licence name.
  EXPECT_EQ(copies, 3);
  EXPECT_EQ(view.Statuses[1], "Copying file...|" + Dir() + "app");
  EXPECT_EQ(view.Statuses[2], "Copying file...|" + Dir());
  EXPECT_EQ(view.Steps, 4);
  EXPECT_TRUE(view.Errors.empty());
  EXPECT_FALSE(Exists("inst/uninstall.exe"));
  EXPECT_FALSE(Exists("menu"));
}

TEST_F(Install, MissingSourcesByMode) {
  installer.InstallDir = Dir();
  fs::create_directories(tmp.File("inst"));
  EXPECT_TRUE(installer.CopyEntry("nothere.txt", cmOptional));
  EXPECT_TRUE(view.Errors.empty());
  EXPECT_FALSE(installer.CopyEntry("nothere.txt", cmRequired));
  EXPECT_FALSE(installer.CopyEntry("nothere.txt", cmAsk));
  EXPECT_EQ(view.Errors,
            (std::vector<std::string>(2, "Error opening " + tmp.File("src/nothere.txt"))));
  EXPECT_TRUE(installer.CopyEntry("", cmOptional));
  EXPECT_FALSE(installer.CopyEntry("", cmRequired));
  EXPECT_EQ(view.Errors.back(), "Error opening " + tmp.File("src") + "/");
  EXPECT_FALSE(Exists("inst/nothere.txt"));
}

TEST_F(Install, AskModeKeepsTheOldFileWhenTheAnswerIsNo) {
  installer.InstallDir = Dir();
  fs::create_directories(tmp.File("inst"));
  Source("prefs.ini", "new");
  tmp.Write("inst/prefs.ini", "old");
  view.Answer = false;
  EXPECT_TRUE(installer.CopyEntry("prefs.ini", cmAsk));
  EXPECT_EQ(
      view.Questions,
      (std::vector<std::string>{Dir() + "prefs.ini already exists.  Do you want to replace it?"}));
  EXPECT_EQ(tmp.Read("inst/prefs.ini"), "old");
  view.Answer = true;
  EXPECT_TRUE(installer.CopyEntry("prefs.ini", cmAsk));
  EXPECT_EQ(tmp.Read("inst/prefs.ini"), "new");
  EXPECT_TRUE(installer.CopyEntry("prefs.ini", cmRequired));  // overwritten without asking
  EXPECT_EQ(view.Questions.size(), 2u);
}

TEST_F(Install, WordsAreReducedToTheirFileName) {
  Source("x", "only x");
  tmp.Write("outside", "secret");
  installer.InstallDir = Dir();
  fs::create_directories(tmp.File("inst"));
  EXPECT_TRUE(installer.CopyList("../../x ..\\..\\x", cmRequired));
  EXPECT_EQ(tmp.Read("inst/x"), "only x");
  EXPECT_FALSE(installer.CopyEntry("../outside", cmRequired));
  EXPECT_FALSE(Exists("inst/outside"));
  EXPECT_FALSE(installer.CopyEntry("..", cmRequired));
}

TEST_F(Install, InstallingIntoTheSourceFolderKeepsTheFiles) {
  script.RegisterUninstall = false;
  ASSERT_TRUE(installer.RunInstall(tmp.File("src")));
  EXPECT_TRUE(view.Errors.empty());
  EXPECT_EQ(tmp.Read("src/data.bin"), std::string("\x00\x01\x02 data", 8));
  EXPECT_EQ(tmp.Read("src/app"), "#!/bin/sh\nexit 0\n");
}

TEST_F(Install, DestinationAndCopyFailuresStop) {
  installer.InstallDir = Dir();
  fs::create_directories(tmp.File("inst/data.bin"));  // a folder in the file's place
  EXPECT_FALSE(installer.CopyEntry("data.bin", cmRequired));
  EXPECT_EQ(view.Errors.back(), "Error creating " + Dir() + "data.bin");
  tmp.Write("blocker", "a file where the folder should be");
  EXPECT_FALSE(installer.RunInstall(tmp.File("blocker/inst")));
  EXPECT_EQ(view.Errors.back(), "The application's installation directory could not be created");
}

TEST_F(Install, ARunningApplicationStopsBeforeAnyFileIsTouched) {
  fs::create_directories(tmp.File("inst"));
  fs::copy_file("/bin/sleep", tmp.File("inst/app"));
  char arg0[] = "app";
  char arg1[] = "30";
  char* argv[] = {arg0, arg1, nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, tmp.File("inst/app").c_str(), nullptr, nullptr, argv, environ), 0);
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  for (int i = 0; i < 500 && fs::read_symlink(exe).string() != tmp.File("inst/app"); ++i)
    usleep(10000);
  EXPECT_FALSE(installer.RunInstall(tmp.File("inst")));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(view.Errors, (std::vector<std::string>{
                             "The application can not be installed because it appears to be "
                             "already running"}));
  EXPECT_FALSE(Exists("inst/data.bin"));
  EXPECT_TRUE(view.Statuses.empty());
  // Not running any more, even read-only: free.
  chmod(tmp.File("inst/app").c_str(), 0555);
  EXPECT_FALSE(installer.IsAppRunning());
}

TEST_F(Install, UnsafeShortcutNamesAreRefusedSilently) {
  script.ShortCuts = "app ../../evil app \"../App Escape\" app Good";
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  EXPECT_TRUE(view.Errors.empty());
  EXPECT_FALSE(Exists("evil.desktop"));
  EXPECT_FALSE(Exists("menu/evil.desktop"));
  // The first failure ends the list, as any failed shortcut does.
  EXPECT_FALSE(Exists("menu/App/Good.desktop"));
  EXPECT_TRUE(Exists("inst/uninstall.exe"));

  script.AppName = "../../grp";
  EXPECT_FALSE(installer.CreateShortcuts(0, "app Name"));
  EXPECT_FALSE(Exists("grp"));
  for (const auto& entry : fs::recursive_directory_iterator(tmp.Path()))
    EXPECT_NE(entry.path().extension(), ".desktop") << entry.path();
}

TEST_F(Install, CommonShortcutsGoToTheAllUsersFolder) {
  installer.Options.Common = true;
  script.ShortCuts = "app One bin/tool \"Two Words\"";
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  EXPECT_TRUE(Exists("common/App/One.desktop"));
  EXPECT_NE(tmp.Read("common/App/Two Words.desktop").find("Path=" + Dir() + "bin\n"),
            std::string::npos);
  EXPECT_FALSE(Exists("menu/App"));
}

TEST_F(Install, AnUnwritableEntryRaisesTheValuesName) {
  tmp.Write("keys", "a file, not a folder");
  try {
    installer.RunInstall(tmp.File("inst"));
    ADD_FAILURE() << "no error raised";
  } catch (const ESetupError& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'DisplayName'");
  }
  EXPECT_TRUE(Exists("inst/uninstall.exe"));
}

TEST_F(Install, CancelStopsAtTheNextStatus) {
  view.CancelAtStatus = 3;  // while the second file is being copied
  EXPECT_FALSE(installer.RunInstall(tmp.File("inst")));
  EXPECT_TRUE(Exists("inst/app"));
  EXPECT_FALSE(Exists("inst/data.bin"));
  EXPECT_EQ(view.Statuses.size(), 3u);
  EXPECT_TRUE(view.Errors.empty());  // the window shows the cancel itself
}

}  // namespace
