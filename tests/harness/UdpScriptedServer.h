#pragma once
// The harness's scripted UDP server is the loopback module's, shared with the program's demo;
// beside it, a forger of DNS replies.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "harness/Ports.h"
#include "loopback/UdpScriptedServer.h"

namespace qninet::harness {
using loopback::UdpScriptedServer;

/// A DNS server's stand-in on 127.0.0.1:Port() that meets each query with forgeries first: a
/// REFUSED reply from another port, one with another identifier, one about another question
/// type; then it relays the true answer of the server on `upstreamPort`.
class DnsSpoofer {
public:
  explicit DnsSpoofer(std::uint16_t upstreamPort) : FUpstream(upstreamPort) {
    for (int* fd : {&FServer, &FOther}) {
      *fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
      ::bind(*fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(FServer, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { loop(); });
  }
  ~DnsSpoofer() {
    FStopping = true;
    FThread.join();
    ::close(FServer);
    ::close(FOther);
  }
  std::uint16_t Port() const { return FPort; }

private:
  void loop() {
    while (!FStopping) {
      pollfd p{FServer, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      std::string q(65536, '\0');
      sockaddr_storage from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(FServer, q.data(), q.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 12) continue;
      q.resize(static_cast<std::size_t>(n));
      std::size_t end = 12;  // past the first question
      while (end < q.size() && q[end] != 0) end += 1 + static_cast<unsigned char>(q[end]);
      end = std::min(end + 5, q.size());
      std::string refused = q.substr(0, end);
      refused.replace(2, 10, std::string("\x81\x85\x00\x01\x00\x00\x00\x00\x00\x00", 10));
      std::string otherId = refused, otherType = refused;
      otherId[1] ^= 1;
      otherType[end - 3] ^= 1;
      std::string answer = UdpExchange(FUpstream, q, std::chrono::seconds(5)).value_or("");
      const auto to = reinterpret_cast<sockaddr*>(&from);
      ::sendto(FOther, refused.data(), refused.size(), 0, to, len);
      for (const std::string* reply : {&otherId, &otherType, &answer})
        ::sendto(FServer, reply->data(), reply->size(), 0, to, len);
    }
  }
  std::uint16_t FUpstream, FPort = 0;
  int FServer = -1, FOther = -1;
  std::atomic<bool> FStopping{false};
  std::thread FThread;
};

}  // namespace qninet::harness
