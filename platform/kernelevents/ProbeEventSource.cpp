#include "platform/kernelevents/ProbeEventSource.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/paths/Paths.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kReadChunk = 256 * 1024;
constexpr int kPipeSize = 1 << 20;  // the most a user may ask for, by default
constexpr int kTaskAnswerMs = 500;  // a task table comes in milliseconds; else /proc is read

// Writes to the probe's pipe; a probe that is gone is an error here, not a SIGPIPE that would
// end the whole program.
bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  sigset_t pipeSignal, before;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const timespec none{};
  while (sigtimedwait(&pipeSignal, nullptr, &none) == SIGPIPE) {
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return done == bytes.size();
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

}  // namespace

std::string ProbeCapabilities() {
  // Kernels that know CAP_BPF split loading programs and tracing off CAP_SYS_ADMIN.
  if (prctl(PR_CAPBSET_READ, CAP_BPF, 0, 0, 0) >= 0) return "cap_bpf,cap_perfmon+ep";
  return "cap_sys_admin+ep";
}

std::string DefaultProbePath() {
  return ProgramDir() + "ombrix-probe";
}

ProbeEventSource::ProbeEventSource(std::string probePath, int answerTimeoutMs)
    : path_(std::move(probePath)), answerTimeoutMs_(answerTimeoutMs) {}

ProbeEventSource::~ProbeEventSource() {
  Stop();
}

std::string ProbeEventSource::Fault() const {
  std::lock_guard lock(faultMutex_);
  return fault_;
}

void ProbeEventSource::Fail(std::uint32_t status, const std::string& why) {
  Stop();
  status_ = status;
  std::lock_guard lock(faultMutex_);
  fault_ = why;
}

// The probe reads its hello from its standard input and writes the stream to its standard
// output, each a pipe of ours; it gets an empty environment and no other descriptor (every
// other one of ours is closed on exec). The stream's pipe is made as large as a user may, so
// that a drain's worth of records goes through in one write.
bool ProbeEventSource::Spawn() {
  os::Pipe toProbe = os::OpenPipe(O_CLOEXEC);
  os::Pipe fromProbe = toProbe.Read ? os::OpenPipe(O_CLOEXEC) : os::Pipe{};
  if (!fromProbe.Read) {
    const int error = errno;
    Fail(static_cast<std::uint32_t>(error), "probe: cannot start (" + ErrorText(error) + ")");
    return false;
  }
  fcntl(fromProbe.Read.Get(), F_SETPIPE_SZ, kPipeSize);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toProbe.Read.Get(), 0);
  posix_spawn_file_actions_adddup2(&actions, fromProbe.Write.Get(), 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  char* argv[] = {path_.data(), nullptr};
  char* envp[] = {nullptr};
  const int result = posix_spawn(&pid_, path_.c_str(), &actions, &attributes, argv, envp);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  // The probe's ends are its own now; ours close with the pipes.
  fd_ = std::move(fromProbe.Read);
  requestFd_ = std::move(toProbe.Write);
  if (result != 0) {
    pid_ = -1;
    Fail(static_cast<std::uint32_t>(result), "probe: cannot start (" + ErrorText(result) + ")");
    return false;
  }
  return true;
}

SourceOpenResult ProbeEventSource::Open(std::uint32_t enableFlags) {
  if (!wake_.Valid()) return {false, static_cast<std::uint32_t>(errno)};
  if (!FileExists(path_)) {
    Fail(ENOENT, "probe: not installed beside the program");
    return {false, ENOENT};
  }
  if (!Spawn()) return {false, status_};
  if (!WriteAll(requestFd_.Get(), probe::HelloFrame({enableFlags}))) {
    Stop();
    Fail(EPIPE, "probe: stopped before it served (" + ExitText() + ")");
    return {false, EPIPE};
  }
  SourceOpenResult opened;
  if (!AwaitAnswer(opened)) return {false, status_};
  return opened;
}

// The first frame is the probe's answer to the hello: Ready, or Failure and the end.
bool ProbeEventSource::AwaitAnswer(SourceOpenResult& opened) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(answerTimeoutMs_);
  probe::Frame frame;
  for (;;) {
    const auto result = reader_.Next(frame);
    if (result == probe::FrameReader::Result::Malformed) {
      Fail(EPROTO, "probe: malformed stream (" + reader_.Error() + ")");
      return false;
    }
    if (result == probe::FrameReader::Result::Frame) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd fd{fd_.Get(), POLLIN, 0};
    if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) == 0) {
      Fail(ETIMEDOUT, "probe: no answer within " + std::to_string(answerTimeoutMs_) + " ms");
      return false;
    }
    const ssize_t n = read(fd_.Get(), reader_.Room(4096), 4096);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Stop();
      Fail(EPIPE, "probe: stopped before it served (" + ExitText() + ")");
      return false;
    }
    reader_.Commit(static_cast<std::size_t>(n));
  }
  std::string error;
  if (const auto ready = probe::ReadReady(frame, error)) {
    scope_ = ready->Scope;
    opened = {true, ready->FirstError};
    OfferTasks();
    return true;
  }
  if (const auto failure = probe::ReadFailure(frame, error)) {
    const bool refused = failure->Error == EPERM || failure->Error == EACCES;
    Fail(failure->Error, refused ? "probe: not permitted (run: sudo setcap " + ProbeCapabilities() +
                                       " " + path_ + ")"
                                 : "probe: " + failure->Reason);
    return false;
  }
  Fail(EPROTO, "probe: malformed stream (" + error + ")");
  return false;
}

void ProbeEventSource::Poll(std::vector<EventRecord>& out) {
  // Frames that came with the probe's answer are delivered before anything is waited for.
  if (fd_ && reader_.Buffered() != 0 && !TakeFrames(out)) return;
  pollfd fds[2] = {{wake_.Fd(), POLLIN, 0}, {fd_.Get(), POLLIN, 0}};
  const int ready = poll(fds, fd_ ? 2 : 1, 100);
  if (ready <= 0) return;
  if (fds[0].revents & POLLIN) {
    wake_.Clear();
    return;
  }
  if (!fd_ || fds[1].revents == 0) return;
  const ssize_t n = read(fd_.Get(), reader_.Room(kReadChunk), kReadChunk);
  reader_.Commit(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    const int error = n == 0 ? EPIPE : errno;
    Stop();
    Fail(static_cast<std::uint32_t>(error), "probe: stopped (" + ExitText() + ")");
    return;
  }
  TakeFrames(out);
}

// Hands on every whole frame the reader holds; false once the stream is found broken.
bool ProbeEventSource::TakeFrames(std::vector<EventRecord>& out) {
  probe::Frame frame;
  for (;;) {
    const auto result = reader_.Next(frame);
    if (result == probe::FrameReader::Result::NeedMore) return true;
    if (result == probe::FrameReader::Result::Malformed) {
      Fail(EPROTO, "probe: malformed stream (" + reader_.Error() + ")");
      return false;
    }
    if (!HandleFrame(frame, out)) return false;
  }
}

// The probe's standard input now carries task table requests, from whichever thread asks.
void ProbeEventSource::OfferTasks() {
  tasks_ = std::make_shared<ProbeTaskChannel>(std::move(requestFd_));
  SetTaskTableSource(
      this, [tasks = tasks_](TaskTable& table) { return tasks->Request(table, kTaskAnswerMs); });
}

bool ProbeEventSource::HandleFrame(const probe::Frame& frame, std::vector<EventRecord>& out) {
  std::string error;
  if (frame.Type == probe::FrameType::Records) {
    if (probe::ReadRecords(frame, out, error)) return true;
  } else if (frame.Type == probe::FrameType::Tasks) {
    if (tasks_ && tasks_->Take(frame, error)) return true;
    if (!tasks_) error = "a task table nobody asked for";
  } else if (const auto dropped = probe::ReadDropped(frame, error)) {
    dropped_ = *dropped;
    return true;
  }
  Fail(EPROTO, "probe: malformed stream (" + error + ")");
  return false;
}

void ProbeEventSource::Wake() {
  wake_.Set();
}

std::string ProbeEventSource::ExitText() {
  if (exitStatus_ < 0) return "gone";
  if (WIFEXITED(exitStatus_)) return "exit status " + std::to_string(WEXITSTATUS(exitStatus_));
  if (WIFSIGNALED(exitStatus_)) return "killed by signal " + std::to_string(WTERMSIG(exitStatus_));
  return "gone";
}

// Closes our end, which ends the probe; one that does not end at once is killed. Either way it
// is reaped here, so that no probe outlives its source.
void ProbeEventSource::Stop() {
  ClearTaskTableSource(this);
  if (tasks_) tasks_->Close();
  fd_.Reset();
  requestFd_.Reset();
  if (pid_ <= 0) return;
  for (int tries = 0; tries < 50; ++tries) {
    if (waitpid(pid_, &exitStatus_, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  while (waitpid(pid_, &exitStatus_, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace platform
