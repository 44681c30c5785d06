// Work that live tests do on this machine and then look for: a loopback TCP transfer, and a
// bounded wait for what should follow from it.
#pragma once
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

// Asks done every 50 ms until it answers true or the seconds have passed; the last answer.
bool WaitUntil(const std::function<bool()>& done, int seconds = 10);

}  // namespace ombrix::testing
