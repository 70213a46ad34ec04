#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr_storage;

namespace qninet::harness {

/// Fills `address` with a numeric IPv4 or IPv6 `host` and `port`; returns the family
/// (AF_INET or AF_INET6) and sets `length`, or returns -1 for a host that is no address.
int NumericAddress(const std::string& host, std::uint16_t port, sockaddr_storage& address, unsigned& length);

/// A TCP port that was free on 127.0.0.1 a moment ago (bound to port 0, read, closed).
/// Throws std::runtime_error when no socket can be bound.
std::uint16_t FreePort();
/// The UDP variant of FreePort().
std::uint16_t FreeUdpPort();
/// A port free for both TCP and UDP on 127.0.0.1 (for servers that bind both).
std::uint16_t FreeTcpAndUdpPort();
/// count distinct free TCP ports (all held bound together while chosen).
std::vector<std::uint16_t> FreePorts(std::size_t count);
/// A TCP port that was free on ::1; throws when IPv6 loopback is unavailable.
std::uint16_t FreePortIPv6();
/// Whether ::1 can be bound here.
bool HaveIPv6Loopback();

/// Retries a TCP connect to host:port until it succeeds (true) or timeout passes (false).
bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout,
                    const std::string& host = "127.0.0.1");

/// Sends one datagram to 127.0.0.1:port and waits up to timeout for one reply datagram.
std::optional<std::string> UdpExchange(std::uint16_t port, std::string_view request,
                                       std::chrono::milliseconds timeout);

/// Repeats UdpExchange (each try waiting up to `interval`) until a reply satisfies accept
/// (any reply when accept is empty) or timeout passes; returns that reply or nothing.
std::optional<std::string> WaitForUdpReply(
    std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout,
    bool (*accept)(const std::string& reply) = nullptr,
    std::chrono::milliseconds interval = std::chrono::milliseconds(300));

}  // namespace qninet::harness
