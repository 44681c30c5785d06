#include "tests/support/LiveWorkload.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace ombrix::testing {

namespace {

std::uint16_t LocalPort(int fd) {
  sockaddr_in own{};
  socklen_t length = sizeof own;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length) != 0) return 0;
  return ntohs(own.sin_port);
}

}  // namespace

LoopbackTcp::LoopbackTcp() {
  server_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (server_ < 0 || bind(server_, raw, sizeof address) != 0 || listen(server_, 1) != 0 ||
      getsockname(server_, raw, &length) != 0)
    return;
  port_ = ntohs(address.sin_port);
  client_ = socket(AF_INET, SOCK_STREAM, 0);
  if (client_ < 0 || connect(client_, raw, sizeof address) != 0) return;
  accepted_ = accept(server_, nullptr, nullptr);
}

LoopbackTcp::~LoopbackTcp() {
  for (int fd : {client_, accepted_, server_})
    if (fd >= 0) close(fd);
}

bool LoopbackTcp::Transfer(std::int64_t bytes) {
  if (!Connected()) return false;
  std::int64_t got = 0;
  std::thread reader([&] {
    std::vector<char> buffer(65536);
    while (got < bytes) {
      const ssize_t n = read(accepted_, buffer.data(), buffer.size());
      if (n <= 0) break;
      got += n;
    }
  });
  const std::vector<char> payload(static_cast<std::size_t>(bytes), 'x');
  bool ok = true;
  for (std::int64_t sent = 0; ok && sent < bytes;) {
    const ssize_t n = write(client_, payload.data() + sent, static_cast<std::size_t>(bytes - sent));
    ok = n > 0;
    if (ok) sent += n;
  }
  if (!ok) shutdown(client_, SHUT_WR);  // let the reader see the end
  reader.join();
  return ok && got == bytes;
}

bool LoopbackTcp::EndKeepingTheClientSocket() {
  if (!Connected() || shutdown(client_, SHUT_WR) != 0) return false;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(accepted_, buffer, sizeof buffer)) > 0) {
  }
  close(accepted_);
  accepted_ = -1;
  return n == 0;
}

void LoopbackTcp::CloseClientSocket() {
  if (client_ >= 0) close(client_);
  client_ = -1;
}

LoopbackUdp::LoopbackUdp() {
  server_ = socket(AF_INET, SOCK_DGRAM, 0);
  client_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (server_ < 0 || client_ < 0 || bind(server_, raw, sizeof address) != 0) return;
  serverPort_ = LocalPort(server_);
  address.sin_port = htons(serverPort_);
  if (serverPort_ == 0 || connect(client_, raw, sizeof address) != 0) return;
  clientPort_ = LocalPort(client_);
  ready_ = clientPort_ != 0;
}

std::int64_t LoopbackUdp::Exchange(int count, std::size_t size, bool receive) {
  if (!ready_) return -1;
  const std::vector<char> payload(size, 'u');
  std::vector<char> buffer(2 * size);
  std::int64_t bytes = 0;
  for (int k = 0; k < count; ++k) {
    const ssize_t sent = send(client_, payload.data(), size, 0);
    if (sent != static_cast<ssize_t>(size)) return -1;
    const ssize_t got = receive ? recv(server_, buffer.data(), buffer.size(), 0) : sent;
    if (got <= 0) return -1;
    bytes += got;
  }
  return bytes;
}

void LoopbackUdp::Close() {
  for (int* fd : {&client_, &server_})
    if (*fd >= 0) close(std::exchange(*fd, -1));
  ready_ = false;
}

SleepingChild::SleepingChild(const char* seconds) {
  char program[] = "/bin/sleep";
  std::string argument = seconds;
  char* argv[] = {program, argument.data(), nullptr};
  if (posix_spawn(&pid_, program, nullptr, nullptr, argv, environ) != 0) pid_ = 0;
}

void SleepingChild::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

bool DropFromPageCache(int fd, std::size_t bytes) {
  void* map = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return false;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((bytes + page - 1) / page);
  int tries = 0;
  const bool dropped = WaitUntil([&] {
    // The clean caches of the whole machine go once at most, when the advice fell short.
    if (++tries == 2) std::ofstream("/proc/sys/vm/drop_caches") << "1\n";
    return posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0 &&
           mincore(map, bytes, resident.data()) == 0 &&
           std::none_of(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; });
  });
  munmap(map, bytes);
  return dropped;
}

bool WaitUntil(const std::function<bool()>& done, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

}  // namespace ombrix::testing
