#include "loopback/UdpScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qninet::loopback {

UdpScriptedServer::UdpScriptedServer(Responder responder) : FResponder(std::move(responder)) {
  FFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (FFd < 0) throw std::runtime_error("UdpScriptedServer: socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::string why = std::strerror(errno);
    ::close(FFd);
    throw std::runtime_error("UdpScriptedServer: bind failed: " + why);
  }
  socklen_t len = sizeof a;
  ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
  FPort = ntohs(a.sin_port);
  FThread = std::thread([this] { loop(); });
}

UdpScriptedServer::UdpScriptedServer(std::vector<std::vector<std::string>> repliesPerDatagram)
    : UdpScriptedServer(
          Responder([replies = std::move(repliesPerDatagram)](std::size_t index, const std::string&) {
            return index < replies.size() ? replies[index] : std::vector<std::string>{};
          })) {}

UdpScriptedServer::~UdpScriptedServer() { Stop(); }

std::vector<std::string> UdpScriptedServer::Received() const {
  std::lock_guard lock(FMutex);
  return FReceived;
}

bool UdpScriptedServer::WaitForDatagrams(std::size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(FMutex);
  return FChanged.wait_for(lock, timeout, [&] { return FReceived.size() >= n; });
}

void UdpScriptedServer::Stop() {
  FStopping = true;
  if (FThread.joinable()) FThread.join();
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

void UdpScriptedServer::loop() {
  while (!FStopping) {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, 50) != 1) continue;
    char buffer[65536];
    sockaddr_storage from{};
    socklen_t fromLen = sizeof from;
    ssize_t n =
        ::recvfrom(FFd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) continue;
    std::string request(buffer, static_cast<std::size_t>(n));
    std::size_t index;
    {
      std::lock_guard lock(FMutex);
      index = FReceived.size();
      FReceived.push_back(request);
      FChanged.notify_all();
    }
    for (const auto& reply : FResponder(index, request))
      ::sendto(FFd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  }
}

}  // namespace qninet::loopback
