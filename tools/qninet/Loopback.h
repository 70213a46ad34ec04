#pragma once
// Small servers on 127.0.0.1 for the demo steps: each runs on its own thread, every wait is
// bounded, and it stops in its destructor. The program's only socket code.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace qninet::tool::loopback {

/// One accepted connection. Reads wait at most a few seconds each.
class Connection {
public:
  explicit Connection(int fd) : FFd(fd) {}
  /// Reads until `end` arrives; `out` gets what came before it, which is consumed with `end`.
  bool ReadUntil(std::string_view end, std::string& out);
  /// Reads until `complete(bytes so far)` holds (64 KiB at most); the bytes stay in `Pending`.
  bool ReadWhileIncomplete(const std::function<bool(const std::string&)>& complete);
  std::string& Pending() { return FPending; }
  void Send(std::string_view bytes);
  /// Half-closes and lets the peer's last bytes arrive, so the close is orderly.
  void Finish();

private:
  bool read_more();
  int FFd;
  std::string FPending;
};

/// A TCP server running `session` for each of `connections` connections (fewer than 0: as
/// many as come until it is destroyed).
class TcpServer {
public:
  using Session = std::function<void(Connection&)>;
  using Complete = std::function<bool(const std::string&)>;
  using Answer = std::function<std::string(const std::string&)>;

  TcpServer(int connections, Session session);
  /// For each connection: reads until `complete(request)` (an empty function reads nothing),
  /// sends `answer(request)` and closes.
  TcpServer(int connections, Complete complete, Answer answer);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;
  std::uint16_t Port() const { return FPort; }
  /// Waits until the sessions have run.
  void Join();

  /// A request that ends with an empty line (HTTP, and the socket engine's header block).
  static bool HeaderComplete(const std::string& r);
  /// A DNS message behind its two-byte length.
  static bool FramedComplete(const std::string& r);

private:
  int FFd = -1;
  std::uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

/// A UDP server answering each of `datagrams` datagrams with `answer(request)`.
class UdpServer {
public:
  using Answer = std::function<std::string(const std::string&)>;
  UdpServer(int datagrams, Answer answer);
  ~UdpServer();
  UdpServer(const UdpServer&) = delete;
  UdpServer& operator=(const UdpServer&) = delete;
  std::uint16_t Port() const { return FPort; }

private:
  int FFd = -1;
  std::uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace qninet::tool::loopback
