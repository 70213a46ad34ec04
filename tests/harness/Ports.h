#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qninet::harness {

/// A TCP (UDP) port that was free on 127.0.0.1 a moment ago (bound to port 0, read, closed).
/// Throws std::runtime_error when no socket can be bound.
std::uint16_t FreePort();
std::uint16_t FreeUdpPort();
/// A port free for both TCP and UDP on 127.0.0.1 (for servers that bind both).
std::uint16_t FreeTcpAndUdpPort();
bool HaveIPv6Loopback();
/// Why 127.0.0.1 `port` (UDP or TCP) cannot be bound now; empty when it can.
std::string BindProblem(std::uint16_t port, bool udp);

/// Retries a TCP connect to 127.0.0.1:port until it succeeds (true) or timeout passes (false).
bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout);
/// Whether a connection to 127.0.0.1:port is greeted, within 2 s, by a line starting with
/// prefix (lines before it, such as "220-" ones, are passed over).
bool Greets(std::uint16_t port, const std::string& prefix);

/// Sends one datagram to 127.0.0.1:port and waits up to timeout for one reply datagram.
std::optional<std::string> UdpExchange(std::uint16_t port, std::string_view request,
                                       std::chrono::milliseconds timeout);
/// Whether 127.0.0.1:port answers an SNTP request as a serving clock (mode 4, stratum 1 to 15).
bool AnswersSntp(std::uint16_t port);

}  // namespace qninet::harness
