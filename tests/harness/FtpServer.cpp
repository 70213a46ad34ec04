#include "harness/FtpServer.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"
#include "harness/TcpClient.h"

#include <stdexcept>

namespace qninet::harness {
namespace {

const char* const kScript = R"PY(import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

port, root, user, password, anonymous, passive = sys.argv[1:7]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
if anonymous == "1":
    authorizer.add_anonymous(root, perm="elr")
handler = FTPHandler
handler.authorizer = authorizer
handler.passive_ports = [int(p) for p in passive.split(",")]
handler.banner = "QNInet test FTP server ready."
# A failed login is answered at once rather than after the default 3 s pause.
handler.auth_failed_timeout = 0.1
logging.basicConfig(level=logging.INFO, stream=sys.stderr)
server = FTPServer(("127.0.0.1", int(port)), handler)
server.serve_forever()
)PY";

}  // namespace

FtpServer::FtpServer(std::string user, std::string password, bool anonymous)
    : FUser(std::move(user)), FPassword(std::move(password)) {
  const std::string python = RequireProgram("/usr/bin/python3", "python3-pyftpdlib");
  FRoot = FDir.Path() / "root";
  std::filesystem::create_directories(FRoot);
  auto ports = FreePorts(9);
  FPort = ports[0];
  FPassivePorts.assign(ports.begin() + 1, ports.end());
  std::string passive;
  for (auto p : FPassivePorts) {
    if (!passive.empty()) passive += ',';
    passive += std::to_string(p);
  }
  auto script = FDir.Write("ftpd.py", kScript);
  FProcess = std::make_unique<Process>(
      std::vector<std::string>{python, "-u", script.string(), std::to_string(FPort), FRoot.string(), FUser,
                               FPassword, anonymous ? "1" : "0", passive},
      std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "pyftpdlib FTP server", std::chrono::seconds(20), [this] {
      if (!WaitForTcpPort(FPort, std::chrono::milliseconds(100))) return false;
      try {
        TcpClient probe(FPort, "127.0.0.1", std::chrono::seconds(2));
        return probe.ReadLine().rfind("220", 0) == 0;
      } catch (const std::exception&) {
        return false;
      }
    });
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

FtpServer::~FtpServer() { Stop(); }

std::string FtpServer::Url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string FtpServer::LogText() const { return FProcess ? FProcess->Log() : std::string(); }

void FtpServer::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
