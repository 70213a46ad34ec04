#pragma once
// Small loopback servers on 127.0.0.1 for the demo steps of the time, DNS, HTTP and scraper
// clients: each answers a fixed number of TCP connections or UDP datagrams on its own thread,
// every wait bounded, and stops in its destructor.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

namespace qninet::tool::loopback {

inline int bound_socket(int type, std::uint16_t& port) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (type == SOCK_STREAM && ::listen(fd, 8) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot bind a socket on 127.0.0.1");
  }
  port = ntohs(a.sin_port);
  return fd;
}

inline bool wait_readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

/// A TCP server: for each connection it reads until `complete(request)` says the request is
/// whole (an empty function: read nothing), sends `answer(request)` and closes.
class TcpServer {
public:
  using Complete = std::function<bool(const std::string&)>;
  using Answer = std::function<std::string(const std::string&)>;

  TcpServer(int connections, Complete complete, Answer answer)
      : FComplete(std::move(complete)), FAnswer(std::move(answer)) {
    FFd = bound_socket(SOCK_STREAM, FPort);
    FThread = std::thread([this, connections] {
      for (int i = 0; i < connections && !FStop; ++i) {
        if (!wait_readable(FFd, 5000)) return;
        const int c = ::accept(FFd, nullptr, nullptr);
        if (c < 0) return;
        serve(c);
        ::close(c);
      }
    });
  }
  ~TcpServer() {
    FStop = true;
    ::shutdown(FFd, SHUT_RDWR);
    if (FThread.joinable()) FThread.join();
    ::close(FFd);
  }
  std::uint16_t Port() const { return FPort; }

  /// A request that ends with an empty line (HTTP).
  static bool HeaderComplete(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; }
  /// A DNS message behind its two-byte length.
  static bool FramedComplete(const std::string& r) {
    return r.size() >= 2 &&
           r.size() >= 2u + ((static_cast<unsigned char>(r[0]) << 8) | static_cast<unsigned char>(r[1]));
  }

private:
  void serve(int c) {
    std::string request;
    char buf[4096];
    while (FComplete && !FComplete(request) && request.size() < 65536) {
      if (!wait_readable(c, 3000)) break;
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<std::size_t>(n));
    }
    const std::string reply = FAnswer(request);
    std::size_t done = 0;
    while (done < reply.size()) {
      const ssize_t n = ::send(c, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    // Let the client's trailing header block arrive before closing, so the close is orderly.
    ::shutdown(c, SHUT_WR);
    while (wait_readable(c, 200) && ::recv(c, buf, sizeof buf, 0) > 0) {
    }
  }

  Complete FComplete;
  Answer FAnswer;
  int FFd = -1;
  std::uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

/// A UDP server answering each of `datagrams` datagrams with `answer(request)`.
class UdpServer {
public:
  using Answer = std::function<std::string(const std::string&)>;
  UdpServer(int datagrams, Answer answer) : FAnswer(std::move(answer)) {
    FFd = bound_socket(SOCK_DGRAM, FPort);
    FThread = std::thread([this, datagrams] {
      char buf[2048];
      for (int i = 0; i < datagrams && !FStop; ++i) {
        if (!wait_readable(FFd, 5000)) return;
        sockaddr_storage from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(FFd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return;
        const std::string reply = FAnswer(std::string(buf, static_cast<std::size_t>(n)));
        ::sendto(FFd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
      }
    });
  }
  ~UdpServer() {
    FStop = true;
    ::shutdown(FFd, SHUT_RDWR);
    if (FThread.joinable()) FThread.join();
    ::close(FFd);
  }
  std::uint16_t Port() const { return FPort; }

private:
  Answer FAnswer;
  int FFd = -1;
  std::uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace qninet::tool::loopback
