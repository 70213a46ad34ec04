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
  int fd;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

sockaddr_in loopback4(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Binds a fresh socket to the loopback `port` (0: any) and returns its port; 0 when it cannot.
std::uint16_t bind_port(int type, std::uint16_t port, int family = AF_INET, int* error = nullptr) {
  Fd s(::socket(family, type | SOCK_CLOEXEC, 0));
  sockaddr_in a4 = loopback4(port);
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  a6.sin6_addr = in6addr_loopback;
  sockaddr* a = family == AF_INET ? reinterpret_cast<sockaddr*>(&a4) : reinterpret_cast<sockaddr*>(&a6);
  socklen_t len = family == AF_INET ? sizeof a4 : sizeof a6;
  const int one = 1;  // a fixed TCP port's old connections in TIME_WAIT do not count
  if (type == SOCK_STREAM) ::setsockopt(s.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (s.fd < 0 || ::bind(s.fd, a, len) != 0 || ::getsockname(s.fd, a, &len) != 0) {
    if (error) *error = errno;
    return 0;
  }
  return ntohs(family == AF_INET ? a4.sin_port : a6.sin6_port);
}

std::uint16_t free_port(int type) {
  const std::uint16_t port = bind_port(type, 0);
  if (port == 0) throw std::runtime_error(std::string("bind to loopback: ") + std::strerror(errno));
  return port;
}

// A connected socket to 127.0.0.1:port, or -1 (after at most timeoutMs).
int connect_to(std::uint16_t port, int timeoutMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const sockaddr_in a = loopback4(port);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
  pollfd p{fd, POLLOUT, 0};
  int err = errno;
  socklen_t len = sizeof err;
  if (err != EINPROGRESS || ::poll(&p, 1, timeoutMs) != 1 ||
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::uint16_t FreePort() { return free_port(SOCK_STREAM); }

std::uint16_t FreeUdpPort() { return free_port(SOCK_DGRAM); }

std::uint16_t FreeTcpAndUdpPort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::uint16_t port = FreePort();
    if (bind_port(SOCK_DGRAM, port) == port) return port;
  }
  throw std::runtime_error("no port free for both TCP and UDP");
}

bool HaveIPv6Loopback() { return bind_port(SOCK_STREAM, 0, AF_INET6) != 0; }

std::string BindProblem(std::uint16_t port, bool udp) {
  int error = 0;
  return bind_port(udp ? SOCK_DGRAM : SOCK_STREAM, port, AF_INET, &error) ? "" : std::strerror(error);
}

bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Fd s(connect_to(port, 500)); s.fd >= 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool Greets(std::uint16_t port, const std::string& prefix) {
  Fd s(connect_to(port, 500));
  std::string got;
  char chunk[4096];
  pollfd p{s.fd, POLLIN, 0};
  while (s.fd >= 0 && ::poll(&p, 1, 2000) == 1) {
    const ssize_t n = ::recv(s.fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    got.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t end; (end = got.find('\n')) != std::string::npos; got.erase(0, end + 1))
      if (got.starts_with(prefix)) return true;
  }
  return false;
}

std::optional<std::string> UdpExchange(std::uint16_t port, std::string_view request,
                                       std::chrono::milliseconds timeout) {
  Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const sockaddr_in a = loopback4(port);
  // A connected UDP socket only accepts datagrams from that peer and reports ICMP refusals.
  if (s.fd < 0 || ::connect(s.fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      ::send(s.fd, request.data(), request.size(), 0) < 0)
    return std::nullopt;
  pollfd p{s.fd, POLLIN, 0};
  char buffer[65536];
  if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
  const ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

bool AnswersSntp(std::uint16_t port) {
  // Version 4, mode 3, with a transmit time (bytes 40..47), which the server echoes.
  std::string request(48, '\0');
  request[0] = 0x23;
  request[40] = static_cast<char>(0xE0);
  request[47] = 1;
  const auto reply = UdpExchange(port, request, std::chrono::milliseconds(300));
  return reply && reply->size() >= 48 && ((*reply)[0] & 0x07) == 4 && (*reply)[1] != 0 &&
         static_cast<unsigned char>((*reply)[1]) < 16;
}

}  // namespace qninet::harness
