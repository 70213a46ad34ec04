#include "qninet/sys/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "qninet/sys/FailureText.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {

namespace {

using Clock = std::chrono::steady_clock;

// The two failures every transfer names alike, whichever engine saw them.
Failure system_failure(int code) {
  if (code == ECONNREFUSED) return failure_of(code, kConnectionRefused);
  if (code == ETIMEDOUT) return failure_of(code, kConnectionTimedOut);
  return Failure{code, system_error_text(code)};
}

/// Waits for `events` until `deadline` (none when `bounded` is false). Returns 1 when ready,
/// 0 at the deadline, -1 with errno on failure.
int wait_for(int fd, short events, bool bounded, Clock::time_point deadline) {
  for (;;) {
    int ms = -1;
    if (bounded) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return 0;
      ms = left > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(left);
    }
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, ms);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

/// Connects `fd` (non-blocking for the wait) and returns 0 or the error number.
int connect_bounded(int fd, const addrinfo& ai, bool bounded, Clock::time_point deadline) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int err = 0;
  if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
    err = errno;
    if (err == EINPROGRESS || err == EINTR) {
      const int r = wait_for(fd, POLLOUT, bounded, deadline);
      if (r == 0) {
        err = ETIMEDOUT;
      } else if (r < 0) {
        err = errno;
      } else {
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  return err;
}

/// A wait that the kernel's time-out ended reads as a time-out, not as "try again".
int transfer_error() { return (errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno; }

}  // namespace

struct TcpAddresses::List {
  addrinfo* Head = nullptr;
  ~List() {
    if (Head) ::freeaddrinfo(Head);
  }
};

TcpAddresses::TcpAddresses() = default;
TcpAddresses::~TcpAddresses() = default;
TcpAddresses::TcpAddresses(TcpAddresses&&) noexcept = default;
TcpAddresses& TcpAddresses::operator=(TcpAddresses&&) noexcept = default;

std::u16string resolver_error_text(int code) { return utf8_to_utf16(::gai_strerror(code)); }

Result<TcpAddresses> resolve_tcp(const std::string& node, int port, bool numeric) {
  if (node.empty()) return system_failure(EDESTADDRREQ);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG | (numeric ? AI_NUMERICHOST : 0);
  const std::string service = std::to_string(port);
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(node.c_str(), service.c_str(), &hints, &found);
  if (rc == EAI_NONAME || rc == EAI_ADDRFAMILY) {
    // AI_ADDRCONFIG hides loopback-only families on hosts without other interfaces.
    hints.ai_flags &= ~AI_ADDRCONFIG;
    rc = ::getaddrinfo(node.c_str(), service.c_str(), &hints, &found);
  }
  if (rc != 0) return Failure{rc, rc == EAI_SYSTEM ? system_error_text(errno) : resolver_error_text(rc)};
  TcpAddresses addresses;
  addresses.FList = std::make_unique<TcpAddresses::List>();
  addresses.FList->Head = found;
  return addresses;
}

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket() { Close(); }

Failure TcpSocket::NotConnected() { return system_failure(ENOTCONN); }

Status TcpSocket::Connect(const TcpAddresses& addresses, int timeout_ms) {
  Close();
  const bool bounded = timeout_ms > 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int err = ECONNREFUSED;
  for (const addrinfo* ai = addresses.FList ? addresses.FList->Head : nullptr; ai; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    err = connect_bounded(fd, *ai, bounded, deadline);
    if (err == 0) {
      FFd = fd;
      break;
    }
    ::close(fd);
    if (err == ETIMEDOUT) break;  // the time-out bounds the whole connect, not each address
  }
  if (FFd < 0) return system_failure(err);
  const int one = 1;
  ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  SetTimeout(FTimeoutMs);
  return {};
}

void TcpSocket::SetTimeout(int timeout_ms) {
  FTimeoutMs = timeout_ms < 0 ? 0 : timeout_ms;
  if (FFd < 0) return;
  // The kernel's own time-outs bound each wait, so a read costs one system call.
  timeval tv{};
  tv.tv_sec = FTimeoutMs / 1000;
  tv.tv_usec = static_cast<suseconds_t>((FTimeoutMs % 1000) * 1000);
  ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

Result<std::size_t> TcpSocket::Send(const void* data, std::size_t count) {
  if (FFd < 0) return NotConnected();
  if (FTls) return FTls->Send(data, count);
  const char* p = static_cast<const char*>(data);
  std::size_t sent = 0;
  while (sent < count) {
    const ssize_t n = ::send(FFd, p + sent, count - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return system_failure(transfer_error());
    }
    sent += static_cast<std::size_t>(n);
  }
  return sent;
}

Result<std::size_t> TcpSocket::Receive(void* data, std::size_t count) {
  if (FFd < 0) return NotConnected();
  if (FTls) return FTls->Receive(data, count);
  for (;;) {
    const ssize_t n = ::recv(FFd, data, count, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return system_failure(transfer_error());
  }
}

bool TcpSocket::WaitReadable() {
  if (FFd < 0) return false;
  if (FTls && FTls->Pending()) return true;
  return wait_for(FFd, POLLIN, FTimeoutMs > 0, Clock::now() + std::chrono::milliseconds(FTimeoutMs)) > 0;
}

Status TcpSocket::StartTls(const std::string& host, const std::string& ca_file) {
  if (FFd < 0) return NotConnected();
  auto session = std::make_unique<TlsSession>(FFd);
  if (Status shaken = session->Handshake(host, ca_file); !shaken) {
    Close();
    return shaken;
  }
  FTls = std::move(session);
  return {};
}

void TcpSocket::Close() {
  if (FTls) {
    FTls->Shutdown();
    FTls.reset();
  }
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

std::string TcpSocket::PeerAddress() const {
  if (FFd < 0) return {};
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getpeername(FFd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  const void* where = ss.ss_family == AF_INET6
                          ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr)
                          : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&ss)->sin_addr);
  if (!::inet_ntop(ss.ss_family, where, text, sizeof text)) return {};
  return text;
}

std::string local_host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace qninet::sys
