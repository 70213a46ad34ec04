#include "qninet/sys/UdpSocket.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <vector>

#include "qninet/sys/Files.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {

namespace {

constexpr int kDefaultTimeoutMs = 5000;
constexpr std::size_t kMaxDatagram = 65536;

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
  bool connect_from_current(std::u16string& error) {
    close_fd();
    for (; Current < Addresses.size(); ++Current) {
      const auto& a = Addresses[Current];
      Fd = ::socket(a.Family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (Fd < 0) {
        error = system_error_text(errno);
        continue;
      }
      if (::connect(Fd, reinterpret_cast<const sockaddr*>(&a.Address), a.Length) == 0) return true;
      error = system_error_text(errno);
      close_fd();
    }
    return false;
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

TUdpStatus TUdpSocket::Open(const std::string& host, std::uint16_t port, std::u16string& error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    error = rc == EAI_SYSTEM ? system_error_text(errno) : utf8_to_utf16(::gai_strerror(rc));
    return usLookup;
  }
  for (addrinfo* p = list; p; p = p->ai_next) {
    if (p->ai_addrlen > sizeof(sockaddr_storage)) continue;
    ResolvedAddress a;
    std::memcpy(&a.Address, p->ai_addr, p->ai_addrlen);
    a.Length = p->ai_addrlen;
    a.Family = p->ai_family;
    FImpl->Addresses.push_back(a);
  }
  ::freeaddrinfo(list);
  if (FImpl->Addresses.empty()) {
    error = u"no address for " + utf8_to_utf16(host);
    return usLookup;
  }
  return FImpl->connect_from_current(error) ? usOk : usSocket;
}

bool TUdpSocket::NextAddress(std::u16string& error) {
  if (FImpl->Current >= FImpl->Addresses.size()) return false;
  ++FImpl->Current;
  return FImpl->connect_from_current(error);
}

TUdpStatus TUdpSocket::Send(std::string_view datagram, std::u16string& error) {
  if (FImpl->Fd < 0) {
    error = u"the socket is not open";
    return usSend;
  }
  for (;;) {
    const ssize_t n = ::send(FImpl->Fd, datagram.data(), datagram.size(), MSG_NOSIGNAL);
    if (n >= 0 && static_cast<std::size_t>(n) == datagram.size()) return usOk;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = system_error_text(errno);
      return errno == ECONNREFUSED ? usRefused : usSend;
    }
    error = u"the datagram was cut short";
    return usSend;
  }
}

TUdpStatus TUdpSocket::Receive(std::string& datagram, int timeout_ms, std::u16string& error) {
  datagram.clear();
  if (FImpl->Fd < 0) {
    error = u"the socket is not open";
    return usReceive;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 && timeout_ms > 0) {
      error = u"no reply within the time-out";
      return usTimeout;
    }
    pollfd p{FImpl->Fd, POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(left < 0 ? 0 : left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) {
      error = system_error_text(errno);
      return usReceive;
    }
    if (rc == 0) {
      error = u"no reply within the time-out";
      return usTimeout;
    }
    std::string buffer(kMaxDatagram, '\0');
    const ssize_t n = ::recv(FImpl->Fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = system_error_text(errno);
      return errno == ECONNREFUSED ? usRefused : usReceive;
    }
    buffer.resize(static_cast<std::size_t>(n));
    datagram = std::move(buffer);
    return usOk;
  }
}

TUdpResult udp_exchange(const std::string& host, std::uint16_t port, std::string_view request,
                        int timeout_ms) {
  TUdpResult result;
  if (timeout_ms <= 0) timeout_ms = kDefaultTimeoutMs;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  TUdpSocket socket;
  result.Status = socket.Open(host, port, result.Error);
  if (result.Status != usOk) return result;
  for (;;) {
    result.Status = socket.Send(request, result.Error);
    if (result.Status == usOk) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      result.Status = socket.Receive(result.Reply, left > 0 ? static_cast<int>(left) : 1, result.Error);
    }
    // "localhost" resolves to ::1 and 127.0.0.1; a server bound to one of them makes the other
    // answer with port unreachable, which is no reason to give up.
    if (result.Status != usRefused) return result;
    std::u16string ignored;
    if (Clock::now() >= deadline || !socket.NextAddress(ignored)) return result;
  }
}

}  // namespace qninet::sys
