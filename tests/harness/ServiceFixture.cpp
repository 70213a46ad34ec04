#include "harness/ServiceFixture.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

#include <sstream>
#include <stdexcept>

namespace qninet::harness {
namespace {

std::string from_hex(const std::string& hex) {
  if (hex == "-") return {};
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

}  // namespace

ServiceFixture::ServiceFixture() {
  const std::string python = RequireProgram("/usr/bin/python3", "python3");
  FPort = FreePort();
  SetAudio("RIFF");
  FProcess = std::make_unique<Process>(
      std::vector<std::string>{python, "-u", QNINET_SERVICE_FIXTURE_SCRIPT, std::to_string(FPort),
                               FCA.ServerCert().string(), FCA.ServerKey().string(),
                               FDir.File("requests.log").string(), FDir.File("audio.bin").string()},
      std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "service fixture", std::chrono::seconds(20),
                [this] { return WaitForTcpPort(FPort, std::chrono::milliseconds(100)); });
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

ServiceFixture::~ServiceFixture() { Stop(); }

std::string ServiceFixture::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(FPort) + path;
}

void ServiceFixture::SetAudio(std::string_view bytes) const { FDir.Write("audio.bin", bytes); }

std::vector<ServiceFixture::Request> ServiceFixture::Requests() const {
  std::vector<Request> out;
  std::istringstream lines(ReadFileText(FDir.File("requests.log")));
  std::string method, target, body, type, authorization;
  while (lines >> method >> target >> body >> type >> authorization)
    out.push_back({method, from_hex(target), from_hex(body), from_hex(type), from_hex(authorization)});
  return out;
}

void ServiceFixture::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
