#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/installer/FileOps.h"
#include "platform/installer/Folders.h"
#include "platform/installer/KeyStore.h"
#include "platform/installer/Shortcut.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

using ombrix::testing::TempDir;
namespace fs = std::filesystem;

platform::FolderFacts Facts(const std::string& home, bool optWritable) {
  platform::FolderFacts facts;
  facts.Home = home;
  facts.Writable = [optWritable](const std::string&) { return optWritable; };
  return facts;
}

TEST(Folders, ProgramFilesIsOptOrTheUsersOwnFolder) {
  TempDir home;
  EXPECT_EQ(platform::ProgramFilesPath(Facts(home.Path(), true)), "/opt");
  EXPECT_EQ(platform::ProgramFilesPath(Facts(home.Path(), false)), home.Path() + "/.local/opt");
  EXPECT_TRUE(fs::is_directory(home.Path() + "/.local/opt"));
  EXPECT_EQ(platform::ProgramFilesPath(Facts("", false)), "");
  EXPECT_EQ(platform::ProgramFilesPath(Facts("relative", false)), "");
}

TEST(Folders, ShellFoldersFollowTheXdgVariables) {
  platform::FolderFacts facts = Facts("/home/u", false);
  EXPECT_EQ(platform::ShellFolderPath(0, facts), "/home/u/.local/share/applications");
  EXPECT_EQ(platform::ShellFolderPath(1, facts), "/usr/local/share/applications");
  EXPECT_EQ(platform::ShellFolderPath(2, facts), "/home/u/.config/autostart");
  facts.XdgDataHome = "/data";
  facts.XdgConfigHome = "/conf";
  EXPECT_EQ(platform::ShellFolderPath(0, facts), "/data/applications");
  EXPECT_EQ(platform::ShellFolderPath(2, facts), "/conf/autostart");
  facts.XdgDataHome = "not/absolute";
  EXPECT_EQ(platform::ShellFolderPath(0, facts), "/home/u/.local/share/applications");
  EXPECT_EQ(platform::ShellFolderPath(3, facts), "");
  EXPECT_EQ(platform::ShellFolderPath(0, Facts("", false)), "");
  EXPECT_EQ(platform::ShellFolderPath(2, Facts("", false)), "");
}

TEST(Shortcut, WritesAValidDesktopEntryAndDeletesIt) {
  TempDir dir;
  const std::string folder = dir.File("menu/My App");
  const std::string target = dir.File("inst dir/bin/app$1 \"q\"");
  ASSERT_TRUE(platform::CreateShortcutFile(folder, target, "My App 100%"));
  const std::string file = folder + "/My App 100%.desktop";
  ASSERT_TRUE(fs::is_regular_file(file));
  const std::string text = platform::DesktopEntryText(target, "My App 100%");
  EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
  EXPECT_NE(text.find("Name=My App 100%\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=\"" + dir.File("inst dir/bin/app\\\\$1 \\\\\"q\\\\\"") + "\"\n"),
            std::string::npos);
  EXPECT_NE(text.find("Path=" + dir.File("inst dir/bin") + "\n"), std::string::npos);
  if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system(("desktop-file-validate '" + file + "'").c_str()), 0);
  }
  EXPECT_TRUE(platform::DeleteShortcutFile(folder, "My App 100%"));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(platform::DeleteShortcutFile(folder, "My App 100%"));
}

TEST(Shortcut, RefusesNamesThatLeaveTheirFolder) {
  TempDir dir;
  for (const std::string name : {"", ".", "..", "../x", "a/b", "..\\x", "a\nb"}) {
    EXPECT_FALSE(platform::IsSafeShortcutName(name)) << name;
    EXPECT_FALSE(platform::CreateShortcutFile(dir.File("menu"), "/bin/true", name)) << name;
  }
  EXPECT_TRUE(platform::IsSafeShortcutName("..x"));
  EXPECT_TRUE(platform::IsSafeShortcutName("App 2.0"));
  // Nothing landed anywhere, not even the folder.
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  EXPECT_FALSE(fs::exists(dir.File("x.desktop")));
  EXPECT_FALSE(fs::exists(dir.File("menu/x.desktop")));
  EXPECT_FALSE(platform::DeleteShortcutFile(dir.File("menu"), "../x"));
}

TEST(FileOps, DeletesRegularFilesOnly) {
  TempDir dir;
  dir.Write("a.txt", "a");
  fs::create_directory(dir.File("sub"));
  dir.Write("sub/keep", "k");
  fs::create_symlink(dir.File("sub"), dir.File("link"));
  EXPECT_TRUE(platform::DeleteRegularFile(dir.File("a.txt")));
  EXPECT_FALSE(fs::exists(dir.File("a.txt")));
  EXPECT_FALSE(platform::DeleteRegularFile(dir.File("a.txt")));
  EXPECT_FALSE(platform::DeleteRegularFile(dir.File("sub")));
  EXPECT_FALSE(platform::DeleteRegularFile(dir.File("sub/")));
  EXPECT_FALSE(platform::DeleteRegularFile(dir.File("link")));
  EXPECT_FALSE(platform::DeleteRegularFile(""));
  EXPECT_TRUE(fs::exists(dir.File("sub/keep")));
  EXPECT_FALSE(platform::RemoveEmptyFolder(dir.File("sub")));
}

TEST(FileOps, ClearReadOnlyGivesTheOwnerWriteAccess) {
  TempDir dir;
  dir.Write("ro", "x");
  chmod(dir.File("ro").c_str(), 0444);
  EXPECT_TRUE(platform::ClearReadOnly(dir.File("ro")));
  struct stat st {};
  ASSERT_EQ(stat(dir.File("ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(platform::ClearReadOnly(dir.File("missing")));
}

TEST(FileOps, ARunningProgramCannotBeOpenedExclusively) {
  TempDir dir;
  const std::string copy = dir.File("sleeper");
  fs::copy_file("/bin/sleep", copy);
  EXPECT_TRUE(platform::CanOpenExclusive(copy));
  pid_t pid = 0;
  char arg0[] = "sleeper";
  char arg1[] = "30";
  char* argv[] = {arg0, arg1, nullptr};
  ASSERT_EQ(posix_spawn(&pid, copy.c_str(), nullptr, nullptr, argv, environ), 0);
  // The exec has happened once /proc shows the copy as the process's program.
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  for (int i = 0; i < 500 && fs::read_symlink(exe).string() != copy; ++i) usleep(10000);
  EXPECT_FALSE(platform::CanOpenExclusive(copy));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(platform::CanOpenExclusive(copy));
  EXPECT_FALSE(platform::CanOpenExclusive(dir.File("missing")));
}

TEST(FileOps, DeleteAtRestartRemovesTheFileAndAnEmptyFolder) {
  TempDir dir;
  fs::create_directory(dir.File("app"));
  dir.Write("app/uninstall.exe", "x");
  EXPECT_TRUE(platform::DeleteAtRestart(dir.File("app/uninstall.exe")));
  EXPECT_FALSE(fs::exists(dir.File("app/uninstall.exe")));
  EXPECT_TRUE(platform::DeleteAtRestart(dir.File("app/")));
  EXPECT_FALSE(fs::exists(dir.File("app")));
  // A folder that still holds files stays, as it would at a restart.
  fs::create_directory(dir.File("full"));
  dir.Write("full/user.dat", "x");
  EXPECT_TRUE(platform::DeleteAtRestart(dir.File("full/")));
  EXPECT_TRUE(fs::exists(dir.File("full/user.dat")));
}

TEST(FileOps, DeleteAtRestartFailsWithoutTheRight) {
  if (geteuid() == 0) GTEST_SKIP() << "root may remove anything";
  TempDir dir;
  fs::create_directory(dir.File("locked"));
  dir.Write("locked/uninstall.exe", "x");
  chmod(dir.File("locked").c_str(), 0555);
  EXPECT_FALSE(platform::DeleteAtRestart(dir.File("locked/uninstall.exe")));
  chmod(dir.File("locked").c_str(), 0755);
}

TEST(KeyStore, KeepsStringAndNumberValuesPerKey) {
  TempDir dir;
  platform::TKeyStore store(dir.File("keys"));
  const std::string key = "Software\\MicroSoft\\Windows\\CurrentVersion\\Uninstall\\My App";
  ASSERT_TRUE(store.SetValue(key, "DisplayName", std::string("My App")));
  ASSERT_TRUE(store.SetValue(key, "UninstallString", std::string("\"/opt/x y/uninstall.exe\"")));
  ASSERT_TRUE(store.SetValue(key, "NoRepair", std::uint32_t{1}));
  ASSERT_TRUE(store.SetValue(key, "Odd\tName=", std::string("line\nbreak%\t")));
  ASSERT_TRUE(store.SetValue(key, "displayname", std::string("Renamed")));
  const auto values = platform::TKeyStore(dir.File("keys")).ReadKey(key);
  ASSERT_TRUE(values.has_value());
  ASSERT_EQ(values->size(), 4u);
  EXPECT_EQ((*values)[0].Name, "DisplayName");
  EXPECT_EQ(std::get<std::string>((*values)[0].Value), "Renamed");
  EXPECT_EQ(std::get<std::string>((*values)[1].Value), "\"/opt/x y/uninstall.exe\"");
  EXPECT_EQ(std::get<std::uint32_t>((*values)[2].Value), 1u);
  EXPECT_EQ(std::get<std::string>((*values)[3].Value), "line\nbreak%\t");
  // Key names match without regard to case, and "/" is taken for "\".
  EXPECT_TRUE(
      store.ReadValue("software/microsoft/windows/currentversion/uninstall/MY APP", "NOREPAIR")
          .has_value());
  EXPECT_FALSE(store.ReadKey("Software\\Other").has_value());
}

TEST(KeyStore, DeletesAKeyWithItsSubkeysOnly) {
  TempDir dir;
  platform::TKeyStore store(dir.File("keys"));
  ASSERT_TRUE(store.SetValue("Root\\App", "a", std::string("1")));
  ASSERT_TRUE(store.SetValue("Root\\App\\Sub", "b", std::string("2")));
  ASSERT_TRUE(store.SetValue("Root\\Application", "c", std::string("3")));
  EXPECT_TRUE(store.DeleteKeyTree("root\\app"));
  EXPECT_FALSE(store.ReadKey("Root\\App").has_value());
  EXPECT_FALSE(store.ReadKey("Root\\App\\Sub").has_value());
  EXPECT_TRUE(store.ReadKey("Root\\Application").has_value());
  EXPECT_FALSE(store.DeleteKeyTree("Root\\App"));
}

TEST(KeyStore, KeyNamesNeverBecomePathsOutOfTheFolder) {
  TempDir dir;
  platform::TKeyStore store(dir.File("keys"));
  dir.Write("victim", "keep");
  for (const std::string name : {"../victim", "..", "../../etc/x", "a/../../victim"}) {
    const std::string file = platform::TKeyStore::FileNameOf("Uninstall\\" + name);
    EXPECT_EQ(file.find('/'), std::string::npos) << name;
    EXPECT_EQ(file.find(".."), std::string::npos) << name;
    EXPECT_TRUE(store.SetValue("Uninstall\\" + name, "v", std::string("x")));
    store.DeleteKeyTree("Uninstall\\" + name);
  }
  EXPECT_EQ(dir.Read("victim"), "keep");
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_TRUE(entry.path().filename() == "victim" || entry.path().filename() == "keys");
  EXPECT_FALSE(platform::TKeyStore("").SetValue("K", "v", std::string("x")));
}

}  // namespace
