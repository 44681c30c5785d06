// Installing into folders that hold surprises, from sources a careless packager made, on a
// disk that fills: nothing outside the installation is touched, and nothing half done
// is called a success.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/installer/KeyStore.h"
#include "tests/platform/installer/SzddBuilder.h"
#include "tests/setup/InstallFixture.h"
#include "tests/support/InChild.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ombrix::setup::cmRequired;
using ombrix::setup::dmReport;
using ombrix::setup::lkNormal;
using ombrix::testing::ChildUser;
using ombrix::testing::InChild;
using ombrix::testing::InstallFixture;
using ombrix::testing::SzddLiterals;

unsigned Mode(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFu;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsLink(const std::string& path) {
  return fs::is_symlink(fs::symlink_status(path));
}

// Prints what the steps showed, for a child process whose view the test cannot see.
bool Quiet(const ombrix::testing::FakeView& view) {
  for (const auto& e : view.Errors) std::fprintf(stderr, "error page: %s\n", e.c_str());
  return view.Errors.empty();
}

class SafeInstall : public InstallFixture {
 protected:
  void SetUp() override { oldMask_ = umask(022); }
  void TearDown() override { umask(oldMask_); }
  // A file outside the installation that a link inside it points to.
  void Marker(const std::string& name) {
    tmp.Write(name, "marker");
    chmod(tmp.File(name).c_str(), 0600);
  }
  pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A group of its own, so that Stop ends the shell's children with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ), 0);
    posix_spawnattr_destroy(&attributes);
    // The spawn returns while the new program may still be setting up its arguments.
    const std::string cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
    for (int i = 0; i < 500 && pid > 0 && Read(cmdline).find(args.back()) == std::string::npos; ++i)
      usleep(10000);
    return pid;
  }
  static void Stop(pid_t pid) {
    if (pid <= 0) return;  // never this test's own group
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }

 private:
  mode_t oldMask_ = 022;
};

TEST_F(SafeInstall, LinksInTheFolderAreReplacedNeverWrittenThrough) {
  Marker("marker");
  Marker("marker2");
  const std::string readme = "Read me.\nAn expanded file behind a link.\n";
  Source("readme.tx_", SzddLiterals(readme));
  script.OptionalFiles = "readme.txt";
  fs::create_directories(tmp.File("inst"));
  fs::create_symlink(tmp.File("marker"), tmp.File("inst/data.bin"));
  fs::create_symlink(tmp.File("marker2"), tmp.File("inst/readme.txt"));
  fs::create_symlink(tmp.File("gone"), tmp.File("inst/app"));  // a dangling one too
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  EXPECT_TRUE(view.Errors.empty());
  for (const std::string marker : {"marker", "marker2"}) {
    EXPECT_EQ(tmp.Read(marker), "marker");
    EXPECT_EQ(Mode(tmp.File(marker)), 0600u);
  }
  EXPECT_FALSE(Exists("gone"));
  for (const std::string name : {"data.bin", "readme.txt", "app"})
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Installed(name)))) << name;
  EXPECT_EQ(tmp.Read("inst/data.bin"), tmp.Read("src/data.bin"));
  EXPECT_EQ(tmp.Read("inst/readme.txt"), readme);
}

TEST_F(SafeInstall, UninstallRemovesALinkAndLeavesWhatItPointsTo) {
  Marker("marker");
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  fs::remove(Installed("data.bin"));
  fs::create_symlink(tmp.File("marker"), Installed("data.bin"));
  view = {};
  installer.DeleteFiles("data.bin", dmReport);
  EXPECT_EQ(view.Lines, (decltype(view.Lines){{"data.bin deleted.", lkNormal}}));
  EXPECT_FALSE(IsLink(Installed("data.bin")));
  EXPECT_EQ(tmp.Read("marker"), "marker");
}

TEST_F(SafeInstall, TheFolderMustBeARealFolderOfTheUserOrRoot) {
  fs::create_directories(tmp.File("real"));
  fs::create_symlink(tmp.File("real"), tmp.File("inst"));
  EXPECT_FALSE(installer.RunInstall(tmp.File("inst")));
  EXPECT_EQ(view.Errors, (std::vector<std::string>{"The application's installation directory " +
                                                   Dir() + " is a symbolic link, not a folder"}));
  EXPECT_TRUE(fs::is_empty(tmp.File("real")));
  if (geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  fs::remove(tmp.File("inst"));
  fs::create_directories(tmp.File("inst"));
  ASSERT_EQ(chown(tmp.File("inst").c_str(), 65534, 65534), 0);
  EXPECT_FALSE(installer.RunInstall(tmp.File("inst")));
  ASSERT_EQ(view.Errors.size(), 2u);
  EXPECT_EQ(view.Errors[1],
            "The application's installation directory " + Dir() + " belongs to another user");
  EXPECT_TRUE(fs::is_empty(tmp.File("inst")));
}

TEST_F(SafeInstall, NewFilesTakeTheUsualModeWhateverTheSourceHad) {
  chmod(tmp.File("src/app").c_str(), 0777);
  chmod(tmp.File("src/data.bin").c_str(), 0666);
  Source("notes.txt", "notes");
  chmod(tmp.File("src/notes.txt").c_str(), 0444);
  script.Files = "data.bin notes.txt";
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  EXPECT_EQ(Mode(Installed("app")), 0755u);
  EXPECT_EQ(Mode(Installed("data.bin")), 0644u);
  EXPECT_EQ(Mode(Installed("notes.txt")), 0644u);
  umask(077);
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  EXPECT_EQ(Mode(Installed("app")), 0700u);
  EXPECT_EQ(Mode(Installed("data.bin")), 0600u);
}

TEST_F(SafeInstall, AnExpansionCutShortIsACopyError) {
  const std::string packed = SzddLiterals(std::string(4000, 'r'));
  Source("readme.tx_", packed.substr(0, packed.size() / 2));
  script.OptionalFiles = "readme.txt";
  fs::create_directories(tmp.File("inst"));
  tmp.Write("inst/readme.txt", "the old readme");
  EXPECT_FALSE(installer.RunInstall(tmp.File("inst")));
  ASSERT_EQ(view.Errors.size(), 1u);
  EXPECT_EQ(view.Errors[0], "Error copying " + Dir() + "readme.txt; copy result = -6");
  EXPECT_EQ(tmp.Read("inst/readme.txt"), "the old readme");
}

TEST_F(SafeInstall, ADiskThatFillsAtTheEndIsACopyError) {
  const std::string text(100000, 'b');
  Source("big.bi_", SzddLiterals(text));
  script.Files = "big.bin";
  script.RegisterUninstall = false;
  installer.Options.AddShortCuts = false;
  // A file size limit stands in for the full disk: writing past it fails with EFBIG.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{text.size() - 2000, text.size() - 2000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool stopped = !installer.RunInstall(tmp.File("inst"));
    const std::string want = "Error copying " + Dir() + "big.bin; copy result = -2";
    _exit(stopped && view.Errors == std::vector<std::string>{want} ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(Exists("inst/big.bin"));
  // Only the program: no half file, no leftover of the attempt.
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.File("inst")), fs::directory_iterator()), 1);
}

TEST_F(SafeInstall, RepairingOverReadOnlyFilesWorksForAUser) {
  script.OptionalFiles = "opt.txt";
  Source("opt.txt", "optional");
  for (const std::string name : {"app", "data.bin", "opt.txt", "setup", "setup.inf"})
    chmod(tmp.File("src/" + name).c_str(), name == "app" ? 0555 : 0444);
  if (geteuid() == 0) ombrix::testing::HandOverToNobody(tmp.Path());
  const std::string twice = InChild(
      [this] {
        return installer.RunInstall(tmp.File("inst")) && installer.RunInstall(tmp.File("inst")) &&
                       Quiet(view)
                   ? std::string()
                   : "installing twice failed";
      },
      ChildUser::Nobody);
  EXPECT_EQ(twice, "");
  EXPECT_EQ(tmp.Read("inst/opt.txt"), "optional");
}

TEST_F(SafeInstall, LongNamesInAnyScriptMakeTheirEntry) {
  script.AppName.clear();
  for (int i = 0; i < 37; ++i) script.AppName += "\xD0\x96";  // 37 Cyrillic letters
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  const auto name =
      platform::KeyStore(tmp.File("keys")).ReadValue(installer.UninstallKey(), "DisplayName");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(std::get<std::string>(*name), script.AppName);
}

TEST_F(SafeInstall, ARelativeDirectoryIsRefusedBeforeAnythingIsWritten) {
  const fs::path before = fs::current_path();
  fs::create_directories(tmp.File("cwd"));
  fs::current_path(tmp.File("cwd"));
  const bool installed = installer.RunInstall("C:\\Program Files\\App");
  fs::current_path(before);
  EXPECT_FALSE(installed);
  EXPECT_EQ(view.Errors,
            (std::vector<std::string>{"The installation directory \"C:/Program Files/App\" is "
                                      "not a full path (one that begins with \"/\")"}));
  EXPECT_TRUE(view.Statuses.empty());
  EXPECT_TRUE(fs::is_empty(tmp.File("cwd")));
}

TEST_F(SafeInstall, TheRunningCheckChangesNothingOutsideTheFolder) {
  fs::create_directories(tmp.File("inst"));
  tmp.Write("victim", "v");
  tmp.Write("victim2", "v");
  chmod(tmp.File("victim").c_str(), 0444);
  chmod(tmp.File("victim2").c_str(), 0444);
  installer.InstallDir = Dir();
  script.Exename = "../victim";
  EXPECT_FALSE(installer.IsAppRunning());
  script.Exename = "app";
  fs::create_symlink(tmp.File("victim2"), tmp.File("inst/app"));
  EXPECT_FALSE(installer.IsAppRunning());
  // The folder itself a link to one that holds a read-only program.
  fs::create_directories(tmp.File("elsewhere"));
  tmp.Write("elsewhere/app", "p");
  chmod(tmp.File("elsewhere/app").c_str(), 0555);
  fs::create_directory_symlink(tmp.File("elsewhere"), tmp.File("linked"));
  installer.InstallDir = tmp.File("linked") + "/";
  EXPECT_FALSE(installer.IsAppRunning());
  EXPECT_EQ(Mode(tmp.File("victim")), 0444u);
  EXPECT_EQ(Mode(tmp.File("victim2")), 0444u);
  EXPECT_EQ(Mode(tmp.File("elsewhere/app")), 0555u);
}

TEST_F(SafeInstall, ARunningScriptIsNotRemoved) {
  Source("app", "#!/bin/sh\nsleep 30\n");
  chmod(tmp.File("src/app").c_str(), 0755);
  ASSERT_TRUE(installer.RunInstall(tmp.File("inst")));
  const pid_t pid = Spawn({"/bin/sh", Installed("app")});
  view = {};
  installer.SourceDir = Dir();
  installer.ExeFileName = "uninstall.exe";
  EXPECT_FALSE(installer.RunUninstall());
  Stop(pid);
  ASSERT_EQ(view.Errors.size(), 1u);
  EXPECT_EQ(view.Errors[0].rfind("The application can not be removed because it appears", 0), 0u);
  EXPECT_TRUE(Exists("inst/app"));
  EXPECT_TRUE(Exists("inst/data.bin"));
}

}  // namespace
