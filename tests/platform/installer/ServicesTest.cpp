#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

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
  EXPECT_TRUE(fs::is_empty(home.Path()));  // made by the installation, not by asking
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

TEST(FileOps, DeletesFilesAndLinksButNeverFolders) {
  TempDir dir;
  dir.Write("a.txt", "a");
  fs::create_directory(dir.File("sub"));
  dir.Write("sub/keep", "k");
  fs::create_symlink(dir.File("sub"), dir.File("link"));
  fs::create_symlink(dir.File("sub/keep"), dir.File("filelink"));
  EXPECT_TRUE(platform::DeleteInstalledFile(dir.File("a.txt")));
  EXPECT_FALSE(fs::exists(dir.File("a.txt")));
  EXPECT_FALSE(platform::DeleteInstalledFile(dir.File("a.txt")));
  EXPECT_FALSE(platform::DeleteInstalledFile(dir.File("sub")));
  EXPECT_FALSE(platform::DeleteInstalledFile(dir.File("sub/")));
  EXPECT_FALSE(platform::DeleteInstalledFile(""));
  // A link goes, what it points to stays.
  EXPECT_TRUE(platform::DeleteInstalledFile(dir.File("link")));
  EXPECT_TRUE(platform::DeleteInstalledFile(dir.File("filelink")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.File("link"))));
  EXPECT_EQ(dir.Read("sub/keep"), "k");
  EXPECT_FALSE(platform::RemoveEmptyFolder(dir.File("sub")));
}

unsigned Mode(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFu;
}

TEST(FileOps, ClearReadOnlyGivesTheOwnerWriteAccessToAFileOnly) {
  TempDir dir;
  dir.Write("ro", "x");
  dir.Write("outside", "x");
  chmod(dir.File("ro").c_str(), 0444);
  chmod(dir.File("outside").c_str(), 0444);
  fs::create_symlink(dir.File("outside"), dir.File("link"));
  fs::create_directory(dir.File("sub"));
  chmod(dir.File("sub").c_str(), 0555);
  EXPECT_TRUE(platform::ClearReadOnly(dir.File("ro")));
  EXPECT_EQ(Mode(dir.File("ro")), 0644u);
  EXPECT_FALSE(platform::ClearReadOnly(dir.File("missing")));
  EXPECT_FALSE(platform::ClearReadOnly(dir.File("link")));
  EXPECT_FALSE(platform::ClearReadOnly(dir.File("sub")));
  EXPECT_FALSE(platform::ClearReadOnly(dir.File("sub/..")));
  EXPECT_EQ(Mode(dir.File("outside")), 0444u);
  EXPECT_EQ(Mode(dir.File("sub")), 0555u);
  chmod(dir.File("sub").c_str(), 0755);
}

TEST(FileOps, ANewFileReplacesALinkAndLeavesItsTarget) {
  TempDir dir;
  fs::create_directory(dir.File("f"));
  dir.Write("target", "keep");
  fs::create_symlink(dir.File("target"), dir.File("f/name"));
  ASSERT_TRUE(platform::ReplaceFile(dir.File("f"), "name", "new", 0666));
  EXPECT_EQ(dir.Read("target"), "keep");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.File("f/name"))));
  EXPECT_EQ(dir.Read("f/name"), "new");
  // A folder that is itself a link takes nothing.
  fs::create_symlink(dir.File("f"), dir.File("flink"));
  EXPECT_FALSE(platform::ReplaceFile(dir.File("flink"), "other", "x", 0666));
  EXPECT_FALSE(platform::ReplaceFile(dir.File("flink") + "/", "other", "x", 0666));
  EXPECT_FALSE(fs::exists(dir.File("f/other")));
}

TEST(FileOps, FoldersAreTakenOnlyWhenRealAndOwned) {
  TempDir dir;
  fs::create_directory(dir.File("mine"));
  fs::create_symlink(dir.File("mine"), dir.File("link"));
  dir.Write("file", "x");
  platform::FolderRefusal why{};
  EXPECT_TRUE(platform::Folder::Open(dir.File("mine") + "/", true, &why).IsOpen());
  EXPECT_EQ(why, platform::FolderRefusal::None);
  EXPECT_FALSE(platform::Folder::Open(dir.File("link"), true, &why).IsOpen());
  EXPECT_EQ(why, platform::FolderRefusal::Link);
  EXPECT_FALSE(platform::Folder::Open(dir.File("file"), true, &why).IsOpen());
  EXPECT_EQ(why, platform::FolderRefusal::NotFolder);
  EXPECT_FALSE(platform::Folder::Open(dir.File("none"), true, &why).IsOpen());
  EXPECT_EQ(why, platform::FolderRefusal::Missing);
  if (geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  ASSERT_EQ(chown(dir.File("mine").c_str(), 65534, 65534), 0);
  EXPECT_FALSE(platform::Folder::Open(dir.File("mine"), true, &why).IsOpen());
  EXPECT_EQ(why, platform::FolderRefusal::ForeignOwner);
  EXPECT_TRUE(platform::Folder::Open(dir.File("mine"), false).IsOpen());
}

TEST(FileOps, FolderObtainableMakesNothing) {
  TempDir dir;
  EXPECT_TRUE(platform::FolderObtainable(dir.File("a/b/c")));
  EXPECT_TRUE(platform::FolderObtainable(dir.Path()));
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  dir.Write("file", "x");
  EXPECT_FALSE(platform::FolderObtainable(dir.File("file/sub")));
  EXPECT_FALSE(platform::FolderObtainable(""));
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

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

pid_t Spawn(std::vector<std::string> args, const std::string& cwd = {},
            const std::string& open = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  if (!open.empty()) posix_spawn_file_actions_addopen(&actions, 5, open.c_str(), O_RDONLY, 0);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // A group of its own, so that Stop ends the shell's children with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  // The spawn returns while the new program may still be setting up its arguments.
  const std::string cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
  for (int i = 0; i < 500 && pid > 0 && ReadAll(cmdline).rfind(args.back()) == std::string::npos;
       ++i)
    usleep(10000);
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;  // never this test's own group
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(FileOps, AFileHeldOpenOrNamedByAProcessIsInUse) {
  TempDir dir;
  dir.Write("script", "sleep 30\n");
  fs::create_directory(dir.File("other"));
  dir.Write("other/script", "");
  EXPECT_FALSE(platform::ProcessHoldsFile(dir.File("script")));
  // Held open, not named.
  pid_t pid = Spawn({"/bin/sleep", "30"}, {}, dir.File("script"));
  EXPECT_TRUE(platform::ProcessHoldsFile(dir.File("script")));
  Stop(pid);
  // Named relative to the process's folder, not held: an interpreter that read it whole.
  pid = Spawn({"/bin/sh", "-c", "sleep 30; true", "script"}, dir.Path());
  EXPECT_TRUE(platform::ProcessHoldsFile(dir.File("script")));
  Stop(pid);
  // A name alone is not enough: it must lead to the file.
  pid = Spawn({"/bin/sh", "-c", "sleep 30; true", "script"}, dir.File("other"));
  EXPECT_FALSE(platform::ProcessHoldsFile(dir.File("script")));
  Stop(pid);
  EXPECT_FALSE(platform::ProcessHoldsFile(dir.File("missing")));
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
  platform::KeyStore store(dir.File("keys"));
  const std::string key = R"(Software\MicroSoft\Windows\CurrentVersion\Uninstall\My App)";
  ASSERT_TRUE(store.SetValue(key, "DisplayName", std::string("My App")));
  ASSERT_TRUE(store.SetValue(key, "UninstallString", std::string("\"/opt/x y/uninstall.exe\"")));
  ASSERT_TRUE(store.SetValue(key, "NoRepair", std::uint32_t{1}));
  ASSERT_TRUE(store.SetValue(key, "Odd\tName=", std::string("line\nbreak%\t")));
  ASSERT_TRUE(store.SetValue(key, "displayname", std::string("Renamed")));
  const auto values = platform::KeyStore(dir.File("keys")).ReadKey(key);
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

TEST(KeyStore, KeysOfAnyLengthAndScriptGetShortFileNames) {
  TempDir dir;
  platform::KeyStore store(dir.File("keys"));
  std::string name = "Uninstall\\";
  for (int i = 0; i < 300; ++i) name += "\xD0\x96";
  ASSERT_TRUE(store.SetValue(name, "DisplayName", std::string("long")));
  EXPECT_EQ(platform::KeyStore::FileNameOf(name).size(), 21u);
  EXPECT_EQ(std::get<std::string>(*store.ReadValue(name, "displayname")), "long");
  EXPECT_FALSE(store.ReadKey("Uninstall\\other").has_value());
  EXPECT_TRUE(store.DeleteKeyTree("uninstall"));
  EXPECT_TRUE(fs::is_empty(dir.File("keys")));
}

TEST(KeyStore, AKeyWrittenInTheEarlierLayoutIsReadMovedAndDeleted) {
  TempDir dir;
  const std::string key = "Software\\Uninstall\\Old App";
  fs::create_directory(dir.File("keys"));
  const std::string legacy = platform::KeyStore::LegacyFileNameOf(key);
  EXPECT_EQ(legacy, "software%5Cuninstall%5Cold%20app.key");
  dir.Write("keys/" + legacy, "DisplayName\ts\tOld%20App\nNoRepair\td\t1\n");
  dir.Write("keys/software%5Cuninstall%5Cother.key", "DisplayName\ts\tOther\n");
  platform::KeyStore store(dir.File("keys"));
  EXPECT_EQ(std::get<std::string>(*store.ReadValue(key, "DisplayName")), "Old App");
  ASSERT_TRUE(store.SetValue(key, "Publisher", std::string("Acme")));
  EXPECT_FALSE(fs::exists(dir.File("keys/" + legacy)));
  const auto values = store.ReadKey(key);
  ASSERT_TRUE(values.has_value());
  EXPECT_EQ(values->size(), 3u);
  // Both layouts side by side: a tree deletion finds each by the name it holds.
  EXPECT_TRUE(store.DeleteKeyTree("software\\uninstall"));
  EXPECT_TRUE(fs::is_empty(dir.File("keys")));
}

TEST(KeyStore, AFileOfAnotherKeyIsNeitherReadNorOverwritten) {
  TempDir dir;
  platform::KeyStore store(dir.File("keys"));
  ASSERT_TRUE(store.SetValue("A", "v", std::string("a")));
  // As if another key's name had the same hash: its file names that other key.
  const std::string file = "keys/" + platform::KeyStore::FileNameOf("B");
  dir.Write(file, "[c]\nv\ts\tc\n");
  EXPECT_FALSE(store.ReadKey("B").has_value());
  EXPECT_FALSE(store.SetValue("B", "v", std::string("b")));
  EXPECT_EQ(dir.Read(file), "[c]\nv\ts\tc\n");
  EXPECT_TRUE(store.DeleteKeyTree("c"));
  EXPECT_TRUE(store.ReadKey("A").has_value());
}

TEST(KeyStore, ChoosingTheFolderMakesNothing) {
  TempDir dir;
  setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
  EXPECT_EQ(platform::KeyRootFolder(platform::KeyRoot::LocalMachine, dir.File("sys/keys")),
            dir.File("sys/keys"));
  dir.Write("sys", "a file where the folder would go");
  EXPECT_EQ(platform::KeyRootFolder(platform::KeyRoot::LocalMachine, dir.File("sys/keys")),
            dir.File("data/ombrix/keys/machine"));
  EXPECT_EQ(platform::KeyRootFolder(platform::KeyRoot::CurrentUser),
            dir.File("data/ombrix/keys/user"));
  EXPECT_FALSE(fs::exists(dir.File("data")));
  EXPECT_TRUE(fs::is_regular_file(dir.File("sys")));
}

TEST(KeyStore, DeletesAKeyWithItsSubkeysOnly) {
  TempDir dir;
  platform::KeyStore store(dir.File("keys"));
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
  platform::KeyStore store(dir.File("keys"));
  dir.Write("victim", "keep");
  for (const std::string name : {"../victim", "..", "../../etc/x", "a/../../victim"}) {
    const std::string file = platform::KeyStore::FileNameOf("Uninstall\\" + name);
    EXPECT_EQ(file.find('/'), std::string::npos) << name;
    EXPECT_EQ(file.find(".."), std::string::npos) << name;
    EXPECT_TRUE(store.SetValue("Uninstall\\" + name, "v", std::string("x")));
    store.DeleteKeyTree("Uninstall\\" + name);
  }
  EXPECT_EQ(dir.Read("victim"), "keep");
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_TRUE(entry.path().filename() == "victim" || entry.path().filename() == "keys");
  EXPECT_FALSE(platform::KeyStore("").SetValue("K", "v", std::string("x")));
}

}  // namespace
