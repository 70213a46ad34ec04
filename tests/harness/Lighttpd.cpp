#include "harness/Lighttpd.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

#include <stdexcept>

namespace qninet::harness {

Lighttpd::Lighttpd(bool https) {
  FDocRoot = FDir.Path() / "www";
  std::filesystem::create_directories(FDocRoot);
  if (https) {
    const auto ports = FreePorts(2);
    FPort = ports[0];
    FHttpsPort = ports[1];
    FCA = std::make_unique<TestCA>();
  } else {
    FPort = FreePort();
  }
}

Lighttpd::~Lighttpd() { Stop(); }

void Lighttpd::AddConfig(const std::string& text) { FExtra += text + "\n"; }

void Lighttpd::Start() {
  if (FProcess) throw std::runtime_error("lighttpd: already started");
  const std::string lighttpd = RequireProgram("lighttpd", "lighttpd");
  const std::string d = FDir.Path().string();
  std::string conf = "server.document-root = \"" + FDocRoot.string() + "\"\nserver.bind = \"127.0.0.1\"\n" +
                     "server.port = " + std::to_string(FPort) + "\nserver.pid-file = \"" + d +
                     "/lighttpd.pid\"\nserver.errorlog = \"" + d + "/error.log\"\naccesslog.filename = \"" +
                     d + "/access.log\"\nserver.modules = (\"mod_accesslog\"" +
                     (FCA ? ", \"mod_openssl\"" : "") + ")\n" +
                     "mimetype.assign = (\".txt\" => \"text/plain\", \"\" => \"application/octet-stream\")\n";
  if (FCA) {
    // mod_openssl takes the certificate and its key in one PEM file.
    const auto pem =
        FDir.Write("server.pem", ReadFileText(FCA->ServerCert()) + ReadFileText(FCA->ServerKey()));
    conf += "$SERVER[\"socket\"] == \"127.0.0.1:" + std::to_string(FHttpsPort) +
            "\" {\n  ssl.engine = \"enable\"\n  ssl.pemfile = \"" + pem.string() + "\"\n}\n";
  }
  FDir.Write("lighttpd.conf", conf + FExtra);
  FProcess = std::make_unique<Process>(std::vector<std::string>{lighttpd, "-D", "-f", d + "/lighttpd.conf"},
                                       std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "lighttpd", std::chrono::seconds(15),
                [this] {
                  return WaitForTcpPort(FPort, std::chrono::milliseconds(100)) &&
                         (!FCA || WaitForTcpPort(FHttpsPort, std::chrono::milliseconds(100)));
                },
                {FDir.File("error.log")});
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

std::string Lighttpd::AccessLog() const { return ReadFileText(FDir.File("access.log")); }

void Lighttpd::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
