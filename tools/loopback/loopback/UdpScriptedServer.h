#pragma once
// The UDP counterpart of ScriptedServer.h (outside the library, POSIX sockets).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qninet::loopback {

/// A loopback UDP server on a free 127.0.0.1 port, on its own thread. For every datagram it
/// records the bytes, then sends back the reply datagrams chosen for it.
class UdpScriptedServer {
public:
  /// Chooses the replies for datagram number index (0-based); an empty list sends nothing.
  using Responder = std::function<std::vector<std::string>(std::size_t index, const std::string& request)>;

  /// Answers through responder. Throws std::runtime_error when it cannot bind.
  explicit UdpScriptedServer(Responder responder);
  /// Datagram i is answered with repliesPerDatagram[i]; later datagrams get no answer.
  explicit UdpScriptedServer(std::vector<std::vector<std::string>> repliesPerDatagram);
  ~UdpScriptedServer();
  UdpScriptedServer(const UdpScriptedServer&) = delete;
  UdpScriptedServer& operator=(const UdpScriptedServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// Every datagram received so far, in order.
  std::vector<std::string> Received() const;
  /// Waits up to timeout for n datagrams; whether they came.
  bool WaitForDatagrams(std::size_t n, std::chrono::milliseconds timeout);
  /// Stops and joins the thread. Idempotent.
  void Stop();

private:
  void loop();
  Responder FResponder;
  int FFd = -1;
  std::uint16_t FPort = 0;
  std::atomic<bool> FStopping{false};
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::string> FReceived;
  std::thread FThread;
};

}  // namespace qninet::loopback
