// Work that live tests do on this machine and then look for: a loopback TCP transfer, a loopback
// UDP exchange, a short-lived child, and a bounded wait for what should follow from them.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace ombrix::testing {

// A connected loopback TCP pair: Client connected to Accepted, both ends in this process.
class LoopbackTcp {
 public:
  LoopbackTcp();
  ~LoopbackTcp();
  LoopbackTcp(const LoopbackTcp&) = delete;
  LoopbackTcp& operator=(const LoopbackTcp&) = delete;

  bool Connected() const { return accepted_ >= 0; }
  std::uint16_t ServerPort() const { return port_; }
  // Sends the bytes from the client and reads them all on the accepted end; false when the
  // connection broke.
  bool Transfer(std::int64_t bytes);
  // Ends the connection from both sides but keeps the client's socket open, so that the
  // connection is over while its socket lives on; false when the ending broke.
  bool EndKeepingTheClientSocket();
  void CloseClientSocket();
  int ClientFd() const { return client_; }

 private:
  int server_ = -1, client_ = -1, accepted_ = -1;
  std::uint16_t port_ = 0;
};

// A loopback UDP pair: an unconnected server socket and a client connected to it.
class LoopbackUdp {
 public:
  LoopbackUdp();
  ~LoopbackUdp() { Close(); }
  LoopbackUdp(const LoopbackUdp&) = delete;
  LoopbackUdp& operator=(const LoopbackUdp&) = delete;

  bool Ready() const { return ready_; }
  std::uint16_t ServerPort() const { return serverPort_; }
  std::uint16_t ClientPort() const { return clientPort_; }
  // Sends count datagrams of size bytes from the client and, when receive, reads each on the
  // server: the bytes received (sent, without receive), or -1 when a call failed.
  std::int64_t Exchange(int count, std::size_t size, bool receive = true);
  void Close();

 private:
  int server_ = -1, client_ = -1;
  bool ready_ = false;
  std::uint16_t serverPort_ = 0, clientPort_ = 0;
};

// A child running /bin/sleep for the seconds given, ended and waited for at the latest when
// it goes out of scope.
class SleepingChild {
 public:
  explicit SleepingChild(const char* seconds = "1");
  ~SleepingChild() { Stop(); }
  SleepingChild(const SleepingChild&) = delete;
  SleepingChild& operator=(const SleepingChild&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  std::uint32_t Id() const { return static_cast<std::uint32_t>(pid_); }
  // Ends the child now (it may have ended already) and reaps it.
  void Stop();

 private:
  pid_t pid_ = 0;
};

// Puts the file's first bytes out of the page cache, so that reading them goes to the disk, and
// checks that none is left resident: advice alone can leave pages that another processor still
// holds in its batch of recently used pages. Falls back to dropping the clean caches (root).
// False when pages stayed resident for ten seconds.
bool DropFromPageCache(int fd, std::size_t bytes);

// Asks done every 50 ms until it answers true or the seconds have passed; the last answer.
bool WaitUntil(const std::function<bool()>& done, int seconds = 10);

}  // namespace ombrix::testing
