#include "harness/TcpClient.h"

#include "harness/Ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qninet::harness {

TcpClient::TcpClient(std::uint16_t port, const std::string& host, std::chrono::milliseconds timeout)
    : FTimeout(timeout) {
  sockaddr_storage a{};
  unsigned len = 0;
  const int family = NumericAddress(host, port, a, len);
  if (family < 0) throw std::runtime_error("TcpClient: bad address " + host);
  FFd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FFd < 0) throw std::runtime_error("TcpClient: socket failed");
  if (::connect(FFd, reinterpret_cast<sockaddr*>(&a), len) != 0) {
    std::string why = std::strerror(errno);
    ::close(FFd);
    FFd = -1;
    throw std::runtime_error("TcpClient: connect to " + host + ":" + std::to_string(port) +
                             " failed: " + why);
  }
}

TcpClient::~TcpClient() {
  if (FFd >= 0) ::close(FFd);
}

void TcpClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("TcpClient: send failed: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool TcpClient::fill() {
  pollfd p{FFd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, static_cast<int>(FTimeout.count()));
  } while (rc < 0 && errno == EINTR);
  if (rc == 0) throw std::runtime_error("TcpClient: read timed out; got so far: " + FBuffer);
  if (rc < 0) throw std::runtime_error("TcpClient: poll failed");
  char chunk[16384];
  ssize_t n = ::recv(FFd, chunk, sizeof chunk, 0);
  if (n < 0) throw std::runtime_error(std::string("TcpClient: recv failed: ") + std::strerror(errno));
  if (n == 0) return false;
  FBuffer.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::string TcpClient::ReadUntil(std::string_view delimiter) {
  for (;;) {
    auto at = FBuffer.find(delimiter);
    if (at != std::string::npos) {
      std::string out = FBuffer.substr(0, at + delimiter.size());
      FBuffer.erase(0, at + delimiter.size());
      return out;
    }
    if (!fill()) throw std::runtime_error("TcpClient: closed before delimiter; got: " + FBuffer);
  }
}

std::string TcpClient::ReadExactly(std::size_t n) {
  while (FBuffer.size() < n)
    if (!fill())
      throw std::runtime_error("TcpClient: closed after " + std::to_string(FBuffer.size()) + " bytes");
  std::string out = FBuffer.substr(0, n);
  FBuffer.erase(0, n);
  return out;
}

std::string TcpClient::ReadAll() {
  while (fill()) {
  }
  std::string out;
  out.swap(FBuffer);
  return out;
}

void TcpClient::ShutdownSend() { ::shutdown(FFd, SHUT_WR); }

}  // namespace qninet::harness
