// The probe on the running machine, as the monitor uses it: chosen by default and saying so,
// refusing without its capabilities and saying how to grant them, and, for a normal user with a
// copy granted its capabilities, showing that user's own files and sockets (short-lived writers
// and UDP included) and nothing of root's. Needs root to arrange the user and the grant; skips
// saying why otherwise. Every wait is bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "monitor/kerneltrace/EventHandlers.h"
#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"
#include "platform/kernelevents/EventBackend.h"
#include "platform/kernelevents/KernelLogger.h"
#include "platform/kernelevents/ProbeEventSource.h"
#include "platform/paths/Paths.h"
#include "platform/perfdata/TaskTable.h"
#include "tests/support/InChild.h"
#include "tests/support/LiveWorkload.h"
#include "tests/support/ScopedPlatform.h"
#include "tests/support/TempDir.h"

namespace {

using namespace platform;
using ombrix::ModelLock;
using ombrix::testing::Child;
using ombrix::testing::Finish;
using ombrix::testing::InChild;
using ombrix::testing::ScopedProbe;
using ombrix::testing::StartChild;
using ombrix::testing::WaitUntil;

constexpr std::int64_t kFileBytes = 4 << 20;

std::string WhyNoProbe() {
  if (geteuid() != 0) return "the probe's live tests need root";
  ProbeEventSource probe(DefaultProbePath());
  if (!probe.Open(EVENT_TRACE_FLAG_NETWORK_TCPIP).Opened)
    return "the probe does not serve here: " + probe.Fault();
  return {};
}

TEST(ProbeChoice, TheDefaultChoiceRunsOnTheProbeAndSaysSo) {
  static const std::string why = WhyNoProbe();
  if (!why.empty()) GTEST_SKIP() << why;
  for (const auto& [backend, name] :
       {std::pair{EventBackend::Automatic, "probe"}, std::pair{EventBackend::Primary, "procfs"}}) {
    const ScopedProbe probe("", backend);
    {
      KernelLogger logger([] { return std::make_unique<PreferredEventSource>(); });
      EVENT_TRACE_PROPERTIES properties{};
      properties.Guid = SystemTraceControlGuid;
      properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
      properties.EnableFlags = EVENT_TRACE_FLAG_NETWORK_TCPIP;
      TRACEHANDLE session = INVALID_TRACE_HANDLE;
      ASSERT_EQ(logger.StartTrace(&session, KERNEL_LOGGER_NAME, &properties), 0u);
      EXPECT_EQ(EventSourceStats().Backend, name);
      EXPECT_EQ(EventSourceStats().Reason, "");
      logger.ControlTrace(session, KERNEL_LOGGER_NAME, &properties, EVENT_TRACE_CONTROL_STOP);
    }
    EXPECT_EQ(EventSourceStats().Backend, "none") << "the stopped session's source is gone";
  }
}

// Root without capabilities (none left to gain by exec either) is refused like any user: the
// session polls, its status is the probe's errno and the reason names the command to run.
TEST(ProbeChoice, WithoutItsCapabilitiesThePollingSaysHowToGrantThem) {
  static const std::string why = WhyNoProbe();
  if (!why.empty()) GTEST_SKIP() << why;
  // A copy without file capabilities: the build's own may have been granted them, and a granted
  // program that the bounding set does not allow is not even started.
  ombrix::testing::TempDir folder;
  const std::string copy = folder.File("ombrix-probe");
  std::filesystem::copy_file(DefaultProbePath(), copy);
  const ScopedProbe probe(copy);
  const std::string failures = InChild([]() -> std::string {
    for (int cap = 0; prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
      if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return "bounding set kept";
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2]{};
    if (syscall(SYS_capset, &header, none) != 0) return "capabilities kept";
    KernelLogger logger([] { return std::make_unique<PreferredEventSource>(); });
    EVENT_TRACE_PROPERTIES properties{};
    properties.Guid = SystemTraceControlGuid;
    properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
    properties.EnableFlags = EVENT_TRACE_FLAG_NETWORK_TCPIP;  // needs no privilege on procfs
    TRACEHANDLE session = INVALID_TRACE_HANDLE;
    if (logger.StartTrace(&session, KERNEL_LOGGER_NAME, &properties) != 0) return "no session";
    const EventSourceState stats = EventSourceStats();
    std::string found;
    if (stats.Backend != "procfs") found += "backend " + stats.Backend + "; ";
    if (properties.SourceStatus != EPERM) found += "status not EPERM; ";
    const std::string command = "run: sudo setcap " + ProbeCapabilities() + " ";
    if (stats.Reason.find(command) == std::string::npos) found += "reason: " + stats.Reason;
    logger.ControlTrace(session, KERNEL_LOGGER_NAME, &properties, EVENT_TRACE_CONTROL_STOP);
    return found;
  });
  EXPECT_EQ(failures, "");
}

// A folder on a real disk that the user can reach, for the granted copy of the probe and for
// the user's files; empty, with the reason in why, where there is none.
std::string UserFolder(std::string& why) {
  std::string folder = "/var/tmp/ombrix-probe-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return why = "no folder in /var/tmp", "";
  struct statfs fs {};
  struct statvfs vfs {};
  constexpr long kTmpfs = 0x01021994;
  if (statfs(folder.c_str(), &fs) != 0 || fs.f_type == kTmpfs || statvfs(folder.c_str(), &vfs) ||
      (vfs.f_flag & ST_NOSUID)) {
    rmdir(folder.c_str());
    return why = "/var/tmp is memory only, or ignores file capabilities", "";
  }
  chmod(folder.c_str(), 0755);
  return folder;
}

class ProbeAsUser : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string why = WhyNoProbe();
    if (!why.empty()) GTEST_SKIP() << why;
    const passwd* user = getpwnam("nobody");
    if (user == nullptr) GTEST_SKIP() << "no user nobody";
    uid = user->pw_uid;
    gid = user->pw_gid;
    std::string noFolder;
    folder = UserFolder(noFolder);
    if (folder.empty()) GTEST_SKIP() << noFolder;
    probe = folder + "/ombrix-probe";
    data = folder + "/data";
    std::filesystem::copy_file(DefaultProbePath(), probe);
    ASSERT_EQ(chmod(probe.c_str(), 0755), 0);
    const std::string grant = "setcap " + ProbeCapabilities() + " " + probe;
    ASSERT_EQ(std::system(grant.c_str()), 0) << grant;
    ASSERT_EQ(mkdir(data.c_str(), 0777), 0);
    ASSERT_EQ(chmod(data.c_str(), 0777), 0);
  }
  void TearDown() override {
    if (!folder.empty()) std::filesystem::remove_all(folder);
  }

  // The child becomes the user; everything after that runs as it.
  bool BecomeUser() const {
    return setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0 && getuid() == uid;
  }

  uid_t uid = 0;
  gid_t gid = 0;
  std::string folder, probe, data;
};

// A model session on the probe, as the monitor runs it.
struct Session {
  Session(const std::string& probePath) {
    SetProbePath(probePath);
    SelectEventBackend(EventBackend::Probe);
    handlers.Install(trace);
    started = trace.Start();
  }
  ~Session() {
    trace.Stop();
    SelectEventBackend(EventBackend::Automatic);
    SetProbePath("");
  }
  bool WaitFor(const std::function<bool()>& done) {
    return WaitUntil([&] {
      std::lock_guard lock(ModelLock);
      return done();
    });
  }
  std::int64_t FileBytes(const std::string& directory, const std::string& name) {
    std::lock_guard lock(ModelLock);
    std::int64_t bytes = 0;
    for (const auto& f : tables.Files)
      if (f->Directory == directory + "/" && f->GetName() == name) bytes += f->ByteCount;
    return bytes;
  }

  ombrix::TEntityTables tables;
  ombrix::TIpHelper ip;
  ombrix::TEventHandlers handlers{tables, ip};
  ombrix::TKernelEventTrace trace;
  bool started = false;
};

// Writes the bytes to path and syncs them, in a process that ends right after.
bool WriteSyncedInChild(const std::string& path, std::int64_t bytes) {
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::vector<char> block(65536, 'w');
    for (std::int64_t done = 0; out >= 0 && done < bytes; done += 65536)
      if (write(out, block.data(), block.size()) != 65536) _exit(1);
    _exit(out >= 0 && fsync(out) == 0 ? 0 : 1);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The probes this process started, by their /proc entries.
std::vector<pid_t> OwnProbes() {
  std::vector<pid_t> probes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || text.find("(ombrix-probe)") == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == getpid()) probes.push_back(std::stoi(name));
  }
  return probes;
}

std::string StatusLine(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with(key + ":")) return line.substr(key.size() + 1);
  return "";
}

TEST_F(ProbeAsUser, TheUsersShortLivedWriterShowsWithExactlyItsBytesAndTheProbeHoldsNothing) {
  const std::string failures = InChild([&]() -> std::string {
    if (!BecomeUser()) return "could not become the user";
    Session session(probe);
    if (!session.started) return "no session: " + EventSourceStats().Reason;
    std::string found;
    const auto probes = OwnProbes();
    if (probes.size() != 1) return "probes running: " + std::to_string(probes.size());
    for (const char* set : {"CapEff", "CapPrm"})
      if (StatusLine(probes[0], set).find("0000000000000000") == std::string::npos)
        found += std::string(set) + " of the serving probe:" + StatusLine(probes[0], set);
    if (!WriteSyncedInChild(data + "/short.bin", kFileBytes)) return "the writer failed";
    session.WaitFor([&] { return session.FileBytes(data, "short.bin") >= kFileBytes; });
    const std::int64_t bytes = session.FileBytes(data, "short.bin");
    if (bytes != kFileBytes) found += "short.bin: " + std::to_string(bytes) + " bytes; ";
    return found;
  });
  EXPECT_EQ(failures, "");
}

TEST_F(ProbeAsUser, UdpDatagramsCountOnTheSendersSocket) {
  const std::string failures = InChild([&]() -> std::string {
    if (!BecomeUser()) return "could not become the user";
    Session session(probe);
    if (!session.started) return "no session: " + EventSourceStats().Reason;
    ombrix::testing::LoopbackUdp udp;
    if (!udp.Ready()) return "no loopback UDP pair";
    constexpr std::int64_t kDatagrams = 40, kSize = 512;
    if (udp.Exchange(kDatagrams, kSize, false) != kDatagrams * kSize) return "send failed";
    // Both ends are this process's: the lower port names the remote end of the pair.
    const std::uint16_t remote = std::min(udp.ServerPort(), udp.ClientPort());
    std::int64_t sent = 0;
    session.WaitFor([&] {
      sent = 0;
      for (const auto& s : session.tables.Sockets)
        if (s->ProcessId == static_cast<std::uint32_t>(getpid()) && s->RemotePort == remote &&
            s->RemoteAddress == INADDR_LOOPBACK)
          sent += s->ByteCount;
      return sent >= kDatagrams * kSize;
    });
    return sent == kDatagrams * kSize ? "" : "sent " + std::to_string(sent) + " bytes";
  });
  EXPECT_EQ(failures, "");
}

// The task table for a normal user: every process, but the I/O of the user's own only.
TEST_F(ProbeAsUser, TheTaskTableShowsOtherUsersProcessesWithoutTheirIo) {
  const std::string failures = InChild([&]() -> std::string {
    if (!BecomeUser()) return "could not become the user";
    Session session(probe);
    if (!session.started) return "no session: " + EventSourceStats().Reason;
    TaskTable table;
    if (!ReadTaskTable(table)) return "no task table";
    std::string found;
    bool own = false, parent = false;
    for (const TaskProcess& p : table.Processes) {
      if (p.Pid == static_cast<std::uint32_t>(getpid())) own = p.IoKnown && p.ReadChars > 0;
      if (p.Pid == static_cast<std::uint32_t>(getppid()))  // root's test program
        parent = !p.IoKnown && p.ReadChars == 0 && p.RuntimeNs > 0;
    }
    if (!own) found += "own process without its I/O; ";
    if (!parent) found += "root's process with its I/O, or missing; ";
    return found;
  });
  EXPECT_EQ(failures, "");
}

// Root writes a file while the user's probe serves; the user's own write after it shows, so the
// root's events have passed through the probe by then, and nothing of them reached the model.
TEST_F(ProbeAsUser, RootsFileNeverReachesTheUsersModel) {
  int ready[2], written[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(written), 0);
  // The child first: a process with threads must not fork.
  Child child = StartChild([&]() -> std::string {
    if (!BecomeUser()) return "could not become the user";
    Session session(probe);
    if (!session.started) return "no session: " + EventSourceStats().Reason;
    char byte = 0;
    if (write(ready[1], "r", 1) != 1 || read(written[0], &byte, 1) != 1) return "no root writer";
    if (!WriteSyncedInChild(data + "/after.bin", 1 << 20)) return "the writer failed";
    if (!session.WaitFor([&] { return session.FileBytes(data, "after.bin") >= (1 << 20); }))
      return "the user's own file never showed";
    std::lock_guard lock(ModelLock);
    for (const auto& f : session.tables.Files)
      if (f->GetName() == "root-secret.bin") return "root's file reached the user's model";
    return "";
  });
  close(ready[1]);  // a child that fails before it is ready must not leave the writer waiting
  char byte = 0;
  if (read(ready[0], &byte, 1) == 1) WriteSyncedInChild(data + "/root-secret.bin", 1 << 20);
  [[maybe_unused]] const ssize_t n = write(written[1], "w", 1);
  const std::string failures = Finish(std::move(child));
  for (int fd : {ready[0], written[0], written[1]}) close(fd);
  EXPECT_EQ(failures, "");
}

}  // namespace
