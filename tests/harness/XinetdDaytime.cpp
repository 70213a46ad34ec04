#include "harness/XinetdDaytime.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"
#include "harness/TcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qninet::harness {
namespace {

// Port 13 is fixed, so a clash must be reported plainly rather than as a start-up time-out.
void require_port_13_free() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("XinetdDaytime: socket failed");
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(13);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int err = errno;
  ::close(fd);
  if (rc == 0) return;
  if (err == EADDRINUSE)
    throw std::runtime_error("XinetdDaytime: 127.0.0.1 port 13 is already in use (another daytime server?)");
  throw std::runtime_error(std::string("XinetdDaytime: cannot bind 127.0.0.1 port 13 (needs root): ") +
                           std::strerror(err));
}

}  // namespace

XinetdDaytime::XinetdDaytime() {
  const std::string xinetd = RequireProgram("xinetd", "xinetd");
  require_port_13_free();
  const std::string d = FDir.Path().string();
  FDir.Write("xinetd.conf",
             "defaults\n"
             "{\n"
             "  log_type = FILE " +
                 d +
                 "/xinetd.log\n"
                 "  log_on_success = HOST\n"
                 "  log_on_failure = HOST\n"
                 "}\n"
                 "service daytime\n"
                 "{\n"
                 "  type = INTERNAL\n"
                 "  id = daytime-stream\n"
                 "  socket_type = stream\n"
                 "  protocol = tcp\n"
                 "  user = root\n"
                 "  wait = no\n"
                 "  bind = 127.0.0.1\n"
                 "  port = 13\n"
                 "  disable = no\n"
                 "}\n");
  FProcess = std::make_unique<Process>(
      std::vector<std::string>{xinetd, "-dontfork", "-f", d + "/xinetd.conf", "-pidfile", d + "/xinetd.pid"},
      std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "xinetd daytime", std::chrono::seconds(15),
                [] {
                  if (!WaitForTcpPort(13, std::chrono::milliseconds(100))) return false;
                  try {
                    TcpClient probe(13, "127.0.0.1", std::chrono::seconds(2));
                    return !probe.ReadAll().empty();
                  } catch (const std::exception&) {
                    return false;
                  }
                },
                {FDir.File("xinetd.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

XinetdDaytime::~XinetdDaytime() { Stop(); }

std::string XinetdDaytime::LogText() const {
  return ReadFileText(FDir.File("xinetd.log")) + (FProcess ? FProcess->Log() : std::string());
}

void XinetdDaytime::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
