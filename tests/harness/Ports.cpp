#include "harness/Ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace qninet::harness {
namespace {

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
};

sockaddr_in loopback4(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

Fd bound_socket(int type, int family = AF_INET) {
  Fd s(::socket(family, type | SOCK_CLOEXEC, 0));
  if (s.fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int rc;
  if (family == AF_INET) {
    auto a = loopback4(0);
    rc = ::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    rc = ::bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (rc != 0) throw std::runtime_error(std::string("bind to loopback: ") + std::strerror(errno));
  return s;
}

std::uint16_t port_of(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("getsockname failed");
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

bool try_connect(const std::string& host, std::uint16_t port) {
  sockaddr_storage a{};
  unsigned len = 0;
  const int family = NumericAddress(host, port, a, len);
  if (family < 0) return false;
  Fd s(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (s.fd < 0) return false;
  if (::connect(s.fd, reinterpret_cast<sockaddr*>(&a), len) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd p{s.fd, POLLOUT, 0};
  if (::poll(&p, 1, 500) != 1) return false;
  int err = 0;
  socklen_t errlen = sizeof err;
  ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &errlen);
  return err == 0;
}

}  // namespace

int NumericAddress(const std::string& host, std::uint16_t port, sockaddr_storage& address, unsigned& length) {
  address = sockaddr_storage{};
  if (host.find(':') != std::string::npos) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(port);
    if (::inet_pton(AF_INET6, host.c_str(), &a6->sin6_addr) != 1) return -1;
    length = sizeof(sockaddr_in6);
    return AF_INET6;
  }
  auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
  a4->sin_family = AF_INET;
  a4->sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &a4->sin_addr) != 1) return -1;
  length = sizeof(sockaddr_in);
  return AF_INET;
}

std::uint16_t FreePort() { return port_of(bound_socket(SOCK_STREAM).fd); }

std::uint16_t FreeUdpPort() { return port_of(bound_socket(SOCK_DGRAM).fd); }

std::uint16_t FreeTcpAndUdpPort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    Fd tcp = bound_socket(SOCK_STREAM);
    std::uint16_t port = port_of(tcp.fd);
    Fd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    auto a = loopback4(port);
    if (udp.fd >= 0 && ::bind(udp.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return port;
  }
  throw std::runtime_error("no port free for both TCP and UDP");
}

std::uint16_t FreePortIPv6() { return port_of(bound_socket(SOCK_STREAM, AF_INET6).fd); }

bool HaveIPv6Loopback() {
  try {
    FreePortIPv6();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<std::uint16_t> FreePorts(std::size_t count) {
  std::vector<Fd> held;
  std::vector<std::uint16_t> ports;
  for (std::size_t i = 0; i < count; ++i) {
    held.push_back(bound_socket(SOCK_STREAM));
    ports.push_back(port_of(held.back().fd));
  }
  return ports;
}

bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout, const std::string& host) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (try_connect(host, port)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::optional<std::string> UdpExchange(std::uint16_t port, std::string_view request,
                                       std::chrono::milliseconds timeout) {
  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (s.fd < 0) return std::nullopt;
  auto a = loopback4(port);
  // A connected UDP socket only accepts datagrams from that peer and reports ICMP refusals.
  if (::connect(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return std::nullopt;
  if (::send(s.fd, request.data(), request.size(), 0) < 0) return std::nullopt;
  pollfd p{s.fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
  char buffer[65536];
  ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::optional<std::string> WaitForUdpReply(std::uint16_t port, std::string_view request,
                                           std::chrono::milliseconds timeout,
                                           bool (*accept)(const std::string&),
                                           std::chrono::milliseconds interval) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto start = std::chrono::steady_clock::now();
    auto reply = UdpExchange(port, request, interval);
    if (reply && (!accept || accept(*reply))) return reply;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    // A refused datagram returns at once; do not spin.
    auto spent = std::chrono::steady_clock::now() - start;
    if (spent < interval) std::this_thread::sleep_for(interval - spent);
  }
}

}  // namespace qninet::harness
