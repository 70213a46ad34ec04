#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qninet::harness {

/// A small blocking loopback TCP client for tests that talk to a server by hand. Every read
/// is bounded by the timeout given at construction; failures throw std::runtime_error.
class TcpClient {
public:
  /// Connects to host:port (IPv4 or IPv6 literal). Throws when the connection fails.
  TcpClient(std::uint16_t port, const std::string& host = "127.0.0.1",
            std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  /// Sends every byte. Throws on failure.
  void Send(std::string_view bytes);
  /// Reads until delimiter has arrived; returns everything up to and including it.
  /// Bytes after it stay buffered for the next read. Throws on time-out or early close.
  std::string ReadUntil(std::string_view delimiter);
  /// ReadUntil("\r\n").
  std::string ReadLine() { return ReadUntil("\r\n"); }
  /// Reads exactly n bytes. Throws on time-out or early close.
  std::string ReadExactly(std::size_t n);
  /// Reads until the server closes. Throws on time-out.
  std::string ReadAll();
  /// Half-closes the sending side (the peer sees end of data).
  void ShutdownSend();

private:
  bool fill();  // false at end of stream
  int FFd = -1;
  std::chrono::milliseconds FTimeout;
  std::string FBuffer;
};

}  // namespace qninet::harness
