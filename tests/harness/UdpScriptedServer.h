#pragma once
// The harness's scripted UDP server is the loopback module's, shared with the program's demo;
// beside it, a forger of DNS replies.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "harness/Ports.h"
#include "loopback/UdpScriptedServer.h"

namespace qninet::harness {
using loopback::UdpScriptedServer;

/// A DNS server's stand-in on 127.0.0.1:Port() that drops the first query and meets each later
/// one (one question and the EDNS record, as the resolver asks) with forgeries first: a REFUSED reply from
/// another port, one with another identifier, one about another question type; then it relays the true answer
/// of the server on `upstreamPort`.
class DnsSpoofer {
public:
  explicit DnsSpoofer(std::uint16_t upstreamPort) : FUpstream(upstreamPort) {
    for (int* fd : {&FOther, &FServer}) {
      sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
      socklen_t len = sizeof a;
      *fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      ::bind(*fd, reinterpret_cast<sockaddr*>(&a), len);
      ::getsockname(*fd, reinterpret_cast<sockaddr*>(&a), &len);
      FPort = ntohs(a.sin_port);
    }
    FThread = std::thread([this] {
      for (pollfd p{FServer, POLLIN, 0}; !FStopping;) {
        std::string q(65536, '\0');
        sockaddr_storage from{};
        socklen_t len = sizeof from;
        const auto to = reinterpret_cast<sockaddr*>(&from);
        const ssize_t n = ::poll(&p, 1, 50) == 1 ? ::recvfrom(FServer, q.data(), q.size(), 0, to, &len) : 0;
        if (n < 17 || FQueries++ == 0) continue;  // the first query is lost
        q.resize(static_cast<std::size_t>(n));
        std::string answer = UdpExchange(FUpstream, q, std::chrono::seconds(5)).value_or(""), otherId,
                    otherType;
        std::string forged = q.substr(0, q.size() - 11);  // the question without the EDNS record
        forged.replace(2, 10, std::string("\x81\x85\x00\x01\x00\x00\x00\x00\x00\x00", 10));
        (otherId = forged)[1] ^= 1;
        (otherType = forged)[forged.size() - 3] ^= 1;
        ::sendto(FOther, forged.data(), forged.size(), 0, to, len);
        for (const std::string* reply : {&otherId, &otherType, &answer})
          ::sendto(FServer, reply->data(), reply->size(), 0, to, len);
      }
    });
  }
  ~DnsSpoofer() {
    FStopping = true;
    FThread.join();
    ::close(FServer);
    ::close(FOther);
  }
  std::uint16_t Port() const { return FPort; }

private:
  std::uint16_t FUpstream, FPort = 0;
  int FServer = -1, FOther = -1, FQueries = 0;
  std::atomic<bool> FStopping{false};
  std::thread FThread;
};

}  // namespace qninet::harness
