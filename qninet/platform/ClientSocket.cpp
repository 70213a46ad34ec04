#include "qninet/platform/ClientSocket.h"

#include "qninet/sys/Files.h"

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
#include <cstring>
#include <memory>

namespace qninet {

namespace platform {

QNINET_CLASS_INFO(TClientSocket)

namespace {

using Clock = std::chrono::steady_clock;

struct AddrInfoFree {
  void operator()(addrinfo* p) const { freeaddrinfo(p); }
};

/// Waits for `events` on `fd` until `deadline` (none when `bounded` is false). Returns 1 when
/// ready, 0 at the deadline, -1 with errno on failure.
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

}  // namespace

String resolver_error_text(int code) { return FromUtf8(::gai_strerror(code)); }

TClientSocket::TClientSocket(TComponent* AOwner) : TComponent(AOwner) {}

TClientSocket::~TClientSocket() { close_quietly(); }

void TClientSocket::SetTimeout(Integer value) {
  FTimeout = value < 0 ? 0 : value;
  apply_timeouts();
}

void TClientSocket::notify(const TSocketNotifyEvent& event) {
  if (event) event(this, this);
}

Integer TClientSocket::fail(TErrorEvent event, Integer code) {
  close_quietly();
  if (FOnError) FOnError(this, this, event, code);
  return code;
}

void TClientSocket::close_quietly() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

void TClientSocket::apply_timeouts() {
  if (FFd < 0) return;
  // Receive and send waits use the kernel's own time-outs, so a read costs one system call.
  timeval tv{};
  tv.tv_sec = FTimeout / 1000;
  tv.tv_usec = static_cast<suseconds_t>((FTimeout % 1000) * 1000);
  ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void TClientSocket::Open() {
  if (FFd >= 0) return;
  const bool byName = FAddress.empty();
  const std::string node = ToUtf8(byName ? FHost : FAddress);
  const std::string service = std::to_string(FPort);
  if (node.empty()) {
    const Integer code = EDESTADDRREQ;
    fail(eeLookup, code);
    throw ESocketError(sys::system_error_text(code));
  }

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG | (byName ? 0 : AI_NUMERICHOST);
  if (byName) notify(FOnLookup);
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(node.c_str(), service.c_str(), &hints, &found);
  if (rc == EAI_NONAME || rc == EAI_ADDRFAMILY) {
    // AI_ADDRCONFIG hides loopback-only families on hosts without other interfaces.
    hints.ai_flags &= ~AI_ADDRCONFIG;
    rc = ::getaddrinfo(node.c_str(), service.c_str(), &hints, &found);
  }
  if (rc != 0) {
    const String text = rc == EAI_SYSTEM ? sys::system_error_text(errno) : resolver_error_text(rc);
    fail(eeLookup, rc);
    throw ESocketError(text);
  }
  const std::unique_ptr<addrinfo, AddrInfoFree> list(found);

  notify(FOnConnecting);
  const bool bounded = FTimeout > 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(FTimeout);
  int err = ECONNREFUSED;
  for (const addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
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
  if (FFd < 0) {
    fail(eeConnect, err);
    throw ESocketError(sys::system_error_text(err));
  }
  const int one = 1;
  ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  apply_timeouts();
  notify(FOnConnect);
}

void TClientSocket::Close() {
  if (FFd < 0) return;
  close_quietly();
  notify(FOnDisconnect);
}

Integer TClientSocket::SendBuf(const void* Buffer, Integer Count) {
  if (FFd < 0) throw ESocketError(sys::system_error_text(ENOTCONN));
  if (Count <= 0) return 0;
  notify(FOnWrite);
  const char* p = static_cast<const char*>(Buffer);
  Integer sent = 0;
  while (sent < Count) {
    const ssize_t n = ::send(FFd, p + sent, static_cast<std::size_t>(Count - sent), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = (errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno;
      if (fail(eeSend, code) != 0) throw ESocketError(sys::system_error_text(code));
      return -1;
    }
    sent += static_cast<Integer>(n);
  }
  return sent;
}

Integer TClientSocket::ReceiveBuf(void* Buffer, Integer Count) {
  if (FFd < 0) throw ESocketError(sys::system_error_text(ENOTCONN));
  if (Count <= 0) return 0;
  if (FOnRead) {
    // Only wait for readiness when someone listens: a plain read needs one system call.
    const bool bounded = FTimeout > 0;
    const int r = wait_for(FFd, POLLIN, bounded, Clock::now() + std::chrono::milliseconds(FTimeout));
    if (r > 0) notify(FOnRead);
    if (FFd < 0) return 0;  // the handler closed the socket
  }
  for (;;) {
    const ssize_t n = ::recv(FFd, Buffer, static_cast<std::size_t>(Count), 0);
    if (n >= 0) return static_cast<Integer>(n);
    if (errno == EINTR) continue;
    const int code = (errno == EAGAIN || errno == EWOULDBLOCK) ? ETIMEDOUT : errno;
    if (fail(eeReceive, code) != 0) throw ESocketError(sys::system_error_text(code));
    return -1;
  }
}

String TClientSocket::LocalHost() const {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return String();
  return FromUtf8(name);
}

String TClientSocket::RemoteAddress() const {
  if (FFd < 0) return String();
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getpeername(FFd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return String();
  char text[INET6_ADDRSTRLEN] = {};
  const void* where = ss.ss_family == AF_INET6
                          ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr)
                          : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&ss)->sin_addr);
  if (!::inet_ntop(ss.ss_family, where, text, sizeof text)) return String();
  return FromUtf8(text);
}

}  // namespace platform
}  // namespace qninet
