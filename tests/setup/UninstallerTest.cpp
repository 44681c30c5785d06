#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/installer/KeyStore.h"
#include "tests/setup/InstallFixture.h"

namespace {

namespace fs = std::filesystem;
using ombrix::setup::dmReport;
using ombrix::setup::dmSilent;
using ombrix::setup::lkError;
using ombrix::setup::lkNormal;
using ombrix::setup::lkNote;
using ombrix::setup::TLineKind;
using ombrix::testing::InstallFixture;
using Lines = std::vector<std::pair<std::string, TLineKind>>;

class Uninstall : public InstallFixture {
 protected:
  // Installs, then turns the fixture into the installed uninstaller.
  void InstallFirst() {
    ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
    ASSERT_TRUE(view.Errors.empty());
    view = {};
    installer.InstallDir = Dir();
    installer.SourceDir = Dir();
    installer.ExeFileName = "uninstall.exe";
  }
};

TEST_F(Uninstall, RemovesEverythingAndReportsEachStep) {
  script.Files = "data.bin Help.HLP";
  script.OptionalFiles = "opt.txt";
  script.LicenseFile = "license.txt";
  Source("Help.HLP", "help");
  Source("license.txt", "licence");
  installer.Options.AddToStartup = true;
  InstallFirst();
  tmp.Write("inst/Help.GID", "index");
  ASSERT_TRUE(installer.RunUninstall());
  EXPECT_EQ(view.Lines,
            (Lines{{"Deleting application files...", lkNormal},
                   {"app deleted.", lkNormal},
                   {"data.bin deleted.", lkNormal},
                   {"Help.HLP deleted.", lkNormal},
                   {"Help.GID deleted.", lkNormal},
                   {"setup.inf deleted.", lkNormal},
                   {"license.txt deleted.", lkNormal},
                   {"The uninstall program and the application directory have been scheduled "
                    "for deletion at the next system restart.",
                    lkNormal},
                   {"Deleting application shortcuts...", lkNormal},
                   {"Shortcut \"App Main\" deleted.", lkNormal},
                   {"Application shortcut folder deleted.", lkNormal},
                   {"Shortcut \"App\" deleted.", lkNormal},
                   {"Deleting application registry entries...", lkNormal},
                   {"Uninstall complete.", lkNormal},
                   {"You must restart your computer to complete the uninstall.", lkNote},
                   {"Click Exit to exit this program.", lkNormal}}));
  EXPECT_FALSE(installer.HadErrors);
  EXPECT_FALSE(Exists("inst"));
  EXPECT_FALSE(Exists("menu/App"));
  EXPECT_FALSE(Exists("start/App.desktop"));
  EXPECT_FALSE(platform::KeyStore(tmp.File("keys")).ReadKey(installer.UninstallKey()));
}

TEST_F(Uninstall, AFileGoneByHandAndNoStartupShortcutEndWithErrors) {
  InstallFirst();
  fs::create_directories(tmp.File("start"));  // the Startup folder is there, the entry is not
  fs::remove(tmp.File("inst/data.bin"));
  ASSERT_TRUE(installer.RunUninstall());
  EXPECT_TRUE(installer.HadErrors);
  const Lines& lines = view.Lines;
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      std::make_pair(std::string("The file \"data.bin\" could not be deleted."),
                                     lkError)),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      std::make_pair(std::string("The Startup shortcut \"App\" could not be "
                                                 "deleted."),
                                     lkError)),
            lines.end());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(
      lines[lines.size() - 3],
      std::make_pair(std::string("Please check earlier messages for errors (in red)."), lkError));
  EXPECT_EQ(lines[lines.size() - 2].second, lkNote);
}

TEST_F(Uninstall, ARunningApplicationRemovesNothing) {
  InstallFirst();
  fs::remove(tmp.File("inst/app"));
  fs::copy_file("/bin/sleep", tmp.File("inst/app"));
  // Any process holding the file exclusively counts; a lock stands in for a running copy.
  const int fd = open(tmp.File("inst/app").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_FALSE(installer.RunUninstall());
  close(fd);
  EXPECT_EQ(view.Errors,
            (std::vector<std::string>{
                "The application can not be removed because it appears to be running.  Please "
                "exit the application, and then try the un-install again"}));
  EXPECT_TRUE(view.Lines.empty());
  EXPECT_TRUE(Exists("inst/data.bin"));
  EXPECT_TRUE(Exists("menu/App/App Main.desktop"));
}

TEST_F(Uninstall, DeleteFilesNeverRemovesFolders) {
  installer.InstallDir = Dir();
  fs::create_directories(tmp.File("inst/sub"));
  tmp.Write("inst/sub/keep", "k");
  installer.DeleteFiles("\"\" sub", dmSilent);
  EXPECT_TRUE(view.Lines.empty());
  installer.DeleteFiles("\"\" sub ../src/app", dmReport);
  EXPECT_EQ(view.Lines, (Lines{{"The file \"\" could not be deleted.", lkError},
                               {"The file \"sub\" could not be deleted.", lkError},
                               {"The file \"app\" could not be deleted.", lkError}}));
  EXPECT_TRUE(Exists("inst/sub/keep"));
  EXPECT_TRUE(Exists("src/app"));
  installer.InstallDir.clear();
  installer.DeleteFiles("app", dmReport);
  EXPECT_EQ(view.Lines.size(), 3u);
}

TEST_F(Uninstall, ShortcutsForAllUsersAreFoundAfterTheUsersOwn) {
  installer.Options.Common = true;
  InstallFirst();
  EXPECT_FALSE(installer.DeleteShortcuts(0, script.ShortCuts));
  EXPECT_TRUE(view.Lines.empty());
  EXPECT_TRUE(installer.DeleteShortcuts(1, script.ShortCuts));
  EXPECT_EQ(view.Lines, (Lines{{"Shortcut \"App Main\" deleted.", lkNormal},
                               {"Application shortcut folder deleted.", lkNormal}}));
  EXPECT_FALSE(Exists("common/App"));
}

TEST_F(Uninstall, TheEntryIsRemovedWithoutReachingOtherKeysOrFiles) {
  platform::KeyStore store(tmp.File("keys"));
  const std::string root = ombrix::setup::TInstaller::UninstallRoot;
  ASSERT_TRUE(store.SetValue(root + "\\Other", "DisplayName", std::string("Other")));
  tmp.Write("victim", "keep");
  for (const std::string name : {"\\", "/", "..", "../victim", "../../victim"}) {
    script.AppName = name;
    installer.UnregisterUninstaller();
  }
  EXPECT_TRUE(store.ReadKey(root + "\\Other").has_value());
  EXPECT_EQ(tmp.Read("victim"), "keep");
  script.AppName = "App";
  ASSERT_TRUE(store.SetValue(installer.UninstallKey(), "DisplayName", std::string("App")));
  installer.UnregisterUninstaller();
  EXPECT_FALSE(store.ReadKey(installer.UninstallKey()).has_value());
  EXPECT_TRUE(store.ReadKey(root + "\\Other").has_value());
}

}  // namespace
