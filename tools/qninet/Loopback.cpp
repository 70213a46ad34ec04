#include "Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace qninet::tool::loopback {

namespace {

int bound_socket(int type, std::uint16_t& port) {
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

bool wait_readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

void stop_listening(int fd, std::atomic<bool>& stop, std::thread& thread) {
  stop = true;
  ::shutdown(fd, SHUT_RDWR);
  if (thread.joinable()) thread.join();
  ::close(fd);
}

}  // namespace

bool Connection::read_more() {
  if (!wait_readable(FFd, 5000)) return false;
  char buf[4096];
  const ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
  if (n <= 0) return false;
  FPending.append(buf, static_cast<std::size_t>(n));
  return true;
}

bool Connection::ReadUntil(std::string_view end, std::string& out) {
  for (;;) {
    if (const auto p = FPending.find(end); p != std::string::npos) {
      out = FPending.substr(0, p);
      FPending.erase(0, p + end.size());
      return true;
    }
    if (FPending.size() > (1u << 20) || !read_more()) return false;
  }
}

bool Connection::ReadWhileIncomplete(const std::function<bool(const std::string&)>& complete) {
  while (!complete(FPending)) {
    if (FPending.size() >= 65536 || !read_more()) return false;
  }
  return true;
}

void Connection::Send(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void Connection::Finish() {
  ::shutdown(FFd, SHUT_WR);
  char buf[4096];
  while (wait_readable(FFd, 200) && ::recv(FFd, buf, sizeof buf, 0) > 0) {
  }
}

TcpServer::TcpServer(int connections, Session session) {
  FFd = bound_socket(SOCK_STREAM, FPort);
  FThread = std::thread([this, connections, session = std::move(session)] {
    for (int i = 0; (connections < 0 || i < connections) && !FStop; ++i) {
      if (!wait_readable(FFd, connections < 0 ? 60000 : 5000)) return;
      const int c = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      Connection conn(c);
      session(conn);
      ::close(c);
    }
  });
}

TcpServer::TcpServer(int connections, Complete complete, Answer answer)
    : TcpServer(connections, [complete = std::move(complete), answer = std::move(answer)](Connection& c) {
        if (complete) c.ReadWhileIncomplete(complete);
        c.Send(answer(c.Pending()));
        c.Finish();
      }) {}

TcpServer::~TcpServer() { stop_listening(FFd, FStop, FThread); }

void TcpServer::Join() {
  if (FThread.joinable()) FThread.join();
}

bool TcpServer::HeaderComplete(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; }

bool TcpServer::FramedComplete(const std::string& r) {
  return r.size() >= 2 &&
         r.size() >= 2u + ((static_cast<unsigned char>(r[0]) << 8) | static_cast<unsigned char>(r[1]));
}

UdpServer::UdpServer(int datagrams, Answer answer) {
  FFd = bound_socket(SOCK_DGRAM, FPort);
  FThread = std::thread([this, datagrams, answer = std::move(answer)] {
    char buf[2048];
    for (int i = 0; i < datagrams && !FStop; ++i) {
      if (!wait_readable(FFd, 5000)) return;
      sockaddr_storage from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(FFd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) return;
      const std::string reply = answer(std::string(buf, static_cast<std::size_t>(n)));
      ::sendto(FFd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  });
}

UdpServer::~UdpServer() { stop_listening(FFd, FStop, FThread); }

}  // namespace qninet::tool::loopback
