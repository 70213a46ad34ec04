#include "harness/Unbound.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

namespace qninet::harness {

Unbound::Unbound(const std::vector<std::string>& serverLines) {
  const std::string unbound = RequireProgram("unbound", "unbound");
  FPort = FreeTcpAndUdpPort();
  const std::string d = FDir.Path().string();
  // The package's defaults chroot to /etc/unbound, switch to its own user and recurse to the
  // root servers; here it answers from local data alone and touches nothing outside the folder.
  // so-reuseport off: otherwise a second instance could bind the same port and share queries.
  std::string conf = "server:\n  interface: 127.0.0.1@" + std::to_string(FPort) +
                     "\n  do-ip6: no\n  do-daemonize: no\n  chroot: \"\"\n  username: \"\"\n"
                     "  directory: \"" +
                     d + "\"\n  pidfile: \"" + d +
                     "/unbound.pid\"\n"
                     "  use-syslog: no\n  logfile: \"" +
                     d +
                     "/unbound.log\"\n  verbosity: 1\n"
                     "  log-queries: yes\n  access-control: 127.0.0.0/8 allow\n  so-reuseport: no\n"
                     "  module-config: \"iterator\"\n";
  for (const auto& line : serverLines) conf += "  " + line + "\n";
  conf += "remote-control:\n  control-enable: no\n";
  FDir.Write("unbound.conf", conf);
  FProcess = std::make_unique<Process>(std::vector<std::string>{unbound, "-d", "-c", d + "/unbound.conf"},
                                       std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "unbound", std::chrono::seconds(15),
                [this] { return WaitForTcpPort(FPort, std::chrono::milliseconds(100)); },
                {FDir.File("unbound.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

Unbound::~Unbound() { Stop(); }

std::string Unbound::LogText() const { return ReadFileText(FDir.File("unbound.log")); }

void Unbound::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
