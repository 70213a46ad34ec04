#include "harness/Ntpsec.h"

#include "harness/Chrony.h"
#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace qninet::harness {
namespace {

// Port 123 is fixed, so a clash must be reported plainly rather than as a start-up time-out.
void require_port_123_free() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("Ntpsec: socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(123);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  const int err = errno;
  ::close(fd);
  if (rc != 0)
    throw std::runtime_error(std::string("Ntpsec: cannot bind 127.0.0.1 UDP port 123: ") +
                             std::strerror(err));
}

}  // namespace

Ntpsec::Ntpsec() {
  const char* peers = std::getenv("QNINET_PEERS_DIR");
  const std::string ntpd =
      std::string(peers && *peers ? peers : "/var/cache/qninet-peers") + "/ntpsec/usr/sbin/ntpd";
  if (!std::filesystem::exists(ntpd))
    throw std::runtime_error(ntpd + " is missing: scripts/install-deps.sh test unpacks ntpsec");
  const std::string setpriv = RequireProgram("setpriv", "util-linux");
  require_port_123_free();
  const std::string d = FDir.Path().string();
  // Orphan mode at once: a server with no sources that still answers as stratum 10.
  FDir.Write("ntp.conf",
             "interface ignore wildcard\n"
             "interface ignore ipv6\n"
             "interface listen 127.0.0.1\n"
             "tos orphan 10 orphanwait 0\n"
             "disable ntp\n"
             "disable kernel\n"
             "restrict default ignore\n"
             "restrict 127.0.0.1 nomodify noquery\n"
             "driftfile " +
                 d + "/ntp.drift\nstatsdir " + d + "/\n");
  // Without CAP_SYS_TIME even a start-up adjustment of the kernel's clock state fails harmlessly.
  FProcess = std::make_unique<Process>(
      std::vector<std::string>{setpriv, "--bounding-set=-sys_time", "--inh-caps=-sys_time", ntpd, "-n", "-c",
                               d + "/ntp.conf", "-l", d + "/ntpd.log", "-p", d + "/ntpd.pid"},
      std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "ntpsec", std::chrono::seconds(15),
                [] {
                  auto reply = UdpExchange(123, SntpClientRequest(), std::chrono::milliseconds(300));
                  return reply && reply->size() >= 48 && (static_cast<unsigned char>((*reply)[0]) & 7) == 4 &&
                         (*reply)[1] != 0 && static_cast<unsigned char>((*reply)[1]) < 16;
                },
                {FDir.File("ntpd.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

Ntpsec::~Ntpsec() { Stop(); }

std::string Ntpsec::LogText() const {
  return ReadFileText(FDir.File("ntpd.log")) + (FProcess ? FProcess->Log() : std::string());
}

void Ntpsec::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
