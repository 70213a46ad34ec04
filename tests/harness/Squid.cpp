#include "harness/Squid.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

namespace qninet::harness {

Squid::Squid() {
  const std::string squid = RequireProgram("squid", "squid");
  FPort = FreePort();
  const std::string d = FDir.Path().string();
  // Started by root, squid works as its own user (proxy), which must write its logs here.
  std::filesystem::permissions(FDir.Path(), std::filesystem::perms::all);
  FDir.Write("squid.conf", "http_port 127.0.0.1:" + std::to_string(FPort) +
                               "\n"
                               "acl loopback src 127.0.0.1\n"
                               "http_access allow loopback\n"
                               "http_access deny all\n"
                               "cache deny all\n"
                               "cache_mem 1 MB\n"
                               "shutdown_lifetime 0 seconds\n"
                               "pid_filename " +
                               d + "/squid.pid\ncache_log " + d + "/cache.log\naccess_log stdio:" + d +
                               "/access.log\ncoredump_dir " + d + "\n");
  FProcess = std::make_unique<Process>(std::vector<std::string>{squid, "-N", "-f", d + "/squid.conf"},
                                       std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "squid", std::chrono::seconds(20),
                [this] { return WaitForTcpPort(FPort, std::chrono::milliseconds(100)); },
                {FDir.File("cache.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

Squid::~Squid() { Stop(); }

std::string Squid::AccessLog() const { return ReadFileText(FDir.File("access.log")); }

void Squid::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
