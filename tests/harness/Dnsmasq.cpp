#include "harness/Dnsmasq.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

#include <unistd.h>

namespace qninet::harness {
Dnsmasq::Dnsmasq(std::vector<std::string> records) {
  const std::string dnsmasq = RequireProgram("dnsmasq", "dnsmasq-base");
  FPort = FreeTcpAndUdpPort();
  const std::string d = FDir.Path().string();
  std::vector<std::string> argv{dnsmasq,
                                "--keep-in-foreground",
                                "--port=" + std::to_string(FPort),
                                "--listen-address=127.0.0.1",
                                "--bind-interfaces",
                                "--no-resolv",
                                "--no-hosts",
                                "--no-poll",
                                "--conf-file=/dev/null",
                                "--pid-file=" + d + "/dnsmasq.pid",
                                "--log-queries",
                                "--log-facility=" + d + "/dnsmasq.log"};
  // As root dnsmasq would switch to user nobody, which cannot write the log in our folder.
  if (::geteuid() == 0) argv.push_back("--user=root");
  argv.insert(argv.end(), records.begin(), records.end());
  FProcess = std::make_unique<Process>(argv, std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "dnsmasq", std::chrono::seconds(15),
                [this] { return WaitForTcpPort(FPort, std::chrono::milliseconds(100)); },
                {FDir.File("dnsmasq.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

Dnsmasq::~Dnsmasq() { Stop(); }

std::string Dnsmasq::LogText() const { return ReadFileText(FDir.File("dnsmasq.log")); }

void Dnsmasq::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
