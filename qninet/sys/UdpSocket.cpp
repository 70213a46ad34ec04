#include "qninet/sys/UdpSocket.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "qninet/sys/FailureText.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {

namespace {

constexpr int kDefaultTimeoutMs = 5000;
constexpr std::size_t kMaxDatagram = 65536;

Failure system_failure(int code) {
  if (code == ETIMEDOUT) return failure_of(code, kConnectionTimedOut);
  if (code == ECONNREFUSED) return failure_of(code, kConnectionRefused);
  return Failure{code, system_error_text(code)};
}

struct ResolvedAddress {
  sockaddr_storage Address{};
  socklen_t Length = 0;
  int Family = 0;
};

}  // namespace

struct TUdpSocket::Impl {
  int Fd = -1;
  std::vector<ResolvedAddress> Addresses;
  std::size_t Current = 0;

  void close_fd() {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
  }

  // Connects a fresh socket to Addresses[Current], moving on past addresses that fail.
  Status connect_from_current() {
    close_fd();
    int err = EDESTADDRREQ;
    for (; Current < Addresses.size(); ++Current) {
      const auto& a = Addresses[Current];
      Fd = ::socket(a.Family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (Fd < 0) {
        err = errno;
        continue;
      }
      if (::connect(Fd, reinterpret_cast<const sockaddr*>(&a.Address), a.Length) == 0) return {};
      err = errno;
      close_fd();
    }
    return system_failure(err);
  }
};

TUdpSocket::TUdpSocket() : FImpl(std::make_unique<Impl>()) {}

TUdpSocket::~TUdpSocket() { FImpl->close_fd(); }

bool TUdpSocket::IsOpen() const { return FImpl->Fd >= 0; }

void TUdpSocket::Close() {
  FImpl->close_fd();
  FImpl->Addresses.clear();
  FImpl->Current = 0;
}

Status TUdpSocket::Open(const std::string& host, std::uint16_t port) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc == EAI_SYSTEM) return system_failure(errno);
  if (rc != 0) return failure_of(rc, ::gai_strerror(rc));
  for (addrinfo* p = list; p; p = p->ai_next) {
    if (p->ai_addrlen > sizeof(sockaddr_storage)) continue;
    ResolvedAddress a;
    std::memcpy(&a.Address, p->ai_addr, p->ai_addrlen);
    a.Length = p->ai_addrlen;
    a.Family = p->ai_family;
    FImpl->Addresses.push_back(a);
  }
  ::freeaddrinfo(list);
  if (FImpl->Addresses.empty()) return failure_of(EAI_NONAME, "no address for " + host);
  return FImpl->connect_from_current();
}

Status TUdpSocket::NextAddress() {
  if (FImpl->Current >= FImpl->Addresses.size()) return system_failure(EDESTADDRREQ);
  ++FImpl->Current;
  return FImpl->connect_from_current();
}

Status TUdpSocket::Send(std::string_view datagram) {
  if (FImpl->Fd < 0) return system_failure(ENOTCONN);
  for (;;) {
    const ssize_t n = ::send(FImpl->Fd, datagram.data(), datagram.size(), MSG_NOSIGNAL);
    if (n >= 0 && static_cast<std::size_t>(n) == datagram.size()) return {};
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return system_failure(errno);
    return failure_of(EMSGSIZE, "the datagram was cut short");
  }
}

Result<std::string> TUdpSocket::Receive(int timeout_ms) {
  if (FImpl->Fd < 0) return system_failure(ENOTCONN);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 && timeout_ms > 0) return system_failure(ETIMEDOUT);
    pollfd p{FImpl->Fd, POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(left < 0 ? 0 : left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return system_failure(errno);
    if (rc == 0) return system_failure(ETIMEDOUT);
    std::string buffer(kMaxDatagram, '\0');
    const ssize_t n = ::recv(FImpl->Fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return system_failure(errno);
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
  }
}

Result<std::string> udp_exchange(const std::string& host, std::uint16_t port, std::string_view request,
                                 int timeout_ms) {
  return udp_exchange(host, port, request, timeout_ms, UdpAwait{});
}

Result<std::string> udp_exchange(const std::string& host, std::uint16_t port, std::string_view request,
                                 int timeout_ms, const UdpAwait& await) {
  if (timeout_ms <= 0) timeout_ms = kDefaultTimeoutMs;
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  const auto deadline = Clock::now() + milliseconds(timeout_ms);
  const auto left_until = [](Clock::time_point t) {
    return std::chrono::duration_cast<milliseconds>(t - Clock::now()).count();
  };
  TUdpSocket socket;
  if (Status opened = socket.Open(host, port); !opened) return opened.failure();
  int pause = await.RetryMs;
  for (;;) {
    Result<std::string> reply = system_failure(ENOTCONN);
    if (Status sent = socket.Send(request); !sent) {
      reply = sent.failure();
    } else {
      const auto until = pause > 0 ? std::min(deadline, Clock::now() + milliseconds(pause)) : deadline;
      do {
        const auto left = left_until(until);
        reply = socket.Receive(left > 0 ? static_cast<int>(left) : 1);
      } while (reply && await.Accept && !await.Accept(*reply));
    }
    if (reply) return reply;
    const int code = reply.failure().Code;
    // A datagram lost either way: ask again while time is left (RFC 1035 section 4.2.1).
    if (code == ETIMEDOUT && pause > 0 && left_until(deadline) > 0) {
      pause *= 2;
      continue;
    }
    // "localhost" resolves to ::1 and 127.0.0.1; a server bound to one of them makes the other
    // answer with port unreachable, which is no reason to give up.
    if (code != ECONNREFUSED) return reply;
    if (Clock::now() >= deadline || !socket.NextAddress()) return reply;
  }
}

}  // namespace qninet::sys
