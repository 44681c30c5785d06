// The whole event path on the running machine: the kernel trace with the monitor's handlers
// fills the model's tables. Needs root (the process connector and other processes' /proc
// entries); every wait is bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <vector>

#include "monitor/kerneltrace/EventHandlers.h"
#include "monitor/kerneltrace/KernelEventTrace.h"
#include "monitor/model/ModelLock.h"
#include "monitor/model/Tables.h"
#include "monitor/network/IpHelper.h"
#include "platform/kernelevents/EventBackend.h"
#include "platform/paths/Paths.h"
#include "tests/support/LiveWorkload.h"

extern char** environ;

namespace {

using ombrix::ModelLock;

class LiveTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the live trace test needs root";
    // These cases are written for the procfs backend's view (logical file positions); the
    // BPF backend has its own model-level test.
    platform::SelectEventBackend(platform::EventBackend::Primary);
    handlers.Install(trace);
    ASSERT_TRUE(trace.Start()) << "status " << trace.LastStatus;
  }
  void TearDown() override {
    trace.Stop();
    platform::SelectEventBackend(platform::EventBackend::Automatic);
  }

  // Waits up to ten seconds for the model to satisfy done, asked under the model lock.
  bool WaitFor(const std::function<bool()>& done) {
    return ombrix::testing::WaitUntil([&] {
      std::lock_guard lock(ModelLock);
      return done();
    });
  }

  const std::uint32_t self = static_cast<std::uint32_t>(getpid());
  ombrix::TEntityTables tables;
  ombrix::TIpHelper ip;
  ombrix::TEventHandlers handlers{tables, ip};
  ombrix::TKernelEventTrace trace;
};

TEST_F(LiveTrace, LoopbackTransferLandsOnASocketOfThisProcess) {
  constexpr std::int64_t kBytes = 1 << 20;
  ombrix::testing::LoopbackTcp pair;
  ASSERT_TRUE(pair.Connected());
  ASSERT_TRUE(pair.Transfer(kBytes));
  std::int64_t bytes = 0;
  const bool seen = WaitFor([&] {
    bytes = 0;
    for (const auto& s : tables.Sockets)
      if (s->ProcessId == self && s->RemoteAddress == INADDR_LOOPBACK) bytes += s->ByteCount;
    return bytes >= 2 * kBytes;  // sent by one end, received by the other
  });
  EXPECT_TRUE(seen) << "bytes on this process's loopback sockets: " << bytes;
  EXPECT_LE(bytes, 2 * kBytes + 64);
  std::lock_guard lock(ModelLock);
  ASSERT_NE(tables.FindProcess(self), nullptr);
  EXPECT_TRUE(tables.FindProcess(self)->SawNetwork);
}

TEST_F(LiveTrace, FileWrittenAndReadLandsOnANamedFile) {
  std::string folder = platform::ProgramDir() + "ktrace-model-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string path = folder + "/payload.bin";
  constexpr std::int64_t kBytes = 4 << 20;
  const std::vector<char> block(65536, 'd');
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  for (std::int64_t done = 0; done < kBytes; done += 65536)
    ASSERT_EQ(write(out, block.data(), 65536), 65536);

  auto fileBytes = [&] {
    for (const auto& f : tables.Files)
      if (f->ProcessId == self && f->GetName() == "payload.bin" && f->Directory == folder + "/")
        return f->ByteCount;
    return std::int64_t{-1};
  };
  std::int64_t bytes = -1;
  EXPECT_TRUE(WaitFor([&] { return (bytes = fileBytes()) >= kBytes; })) << "written " << bytes;
  close(out);
  const int in = open(path.c_str(), O_RDONLY);
  ASSERT_GE(in, 0);
  std::vector<char> buffer(65536);
  while (read(in, buffer.data(), buffer.size()) > 0) {
  }
  EXPECT_TRUE(WaitFor([&] { return (bytes = fileBytes()) >= 2 * kBytes; })) << "moved " << bytes;
  close(in);
  unlink(path.c_str());
  rmdir(folder.c_str());
  EXPECT_EQ(bytes, 2 * kBytes);
}

TEST_F(LiveTrace, ChildStartNamesItsProcessAndMarksItWhole) {
  pid_t child = 0;
  char program[] = "/bin/sleep";
  char argument[] = "1";
  char* argv[] = {program, argument, nullptr};
  ASSERT_EQ(posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
  std::string name;
  bool partial = true;
  const bool seen = WaitFor([&] {
    const ombrix::TProcessInfo* p = tables.FindProcess(static_cast<std::uint32_t>(child));
    if (p == nullptr) return false;
    name = p->Name;
    partial = p->Partial;
    return name == "sleep" && !partial;
  });
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(seen) << "child seen as \"" << name << "\", partial " << partial;
}

}  // namespace
