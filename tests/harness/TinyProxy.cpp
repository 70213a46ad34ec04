#include "harness/TinyProxy.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

namespace qninet::harness {

TinyProxy::TinyProxy(Options options) {
  const std::string tinyproxy = RequireProgram("tinyproxy", "tinyproxy");
  FPort = FreePort();
  const std::string d = FDir.Path().string();
  std::string conf = "Port " + std::to_string(FPort) +
                     "\n"
                     "Listen 127.0.0.1\n"
                     "Timeout 30\n"
                     "LogFile \"" +
                     d +
                     "/tinyproxy.log\"\n"
                     "LogLevel Info\n"
                     "PidFile \"" +
                     d +
                     "/tinyproxy.pid\"\n"
                     "MaxClients 20\n"
                     "Allow 127.0.0.1\n";
  if (!options.User.empty()) conf += "BasicAuth " + options.User + " " + options.Password + "\n";
  for (auto port : options.ConnectPorts) conf += "ConnectPort " + std::to_string(port) + "\n";
  FDir.Write("tinyproxy.conf", conf);
  FProcess = std::make_unique<Process>(std::vector<std::string>{tinyproxy, "-d", "-c", d + "/tinyproxy.conf"},
                                       std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "tinyproxy", std::chrono::seconds(15),
                [this] { return WaitForTcpPort(FPort, std::chrono::milliseconds(100)); },
                {FDir.File("tinyproxy.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

TinyProxy::~TinyProxy() { Stop(); }

std::string TinyProxy::Url() const { return "http://127.0.0.1:" + std::to_string(FPort); }

std::string TinyProxy::LogText() const { return ReadFileText(FDir.File("tinyproxy.log")); }

void TinyProxy::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
