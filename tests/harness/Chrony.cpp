#include "harness/Chrony.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

#include <unistd.h>

#include <chrono>

namespace qninet::harness {
namespace {

bool is_server_reply(const std::string& reply) {
  // Mode 4 (server) in the low three bits, and a stratum of 1..15: the clock is serving.
  return reply.size() >= 48 && (static_cast<unsigned char>(reply[0]) & 0x07) == 4 &&
         static_cast<unsigned char>(reply[1]) != 0 && static_cast<unsigned char>(reply[1]) < 16;
}

}  // namespace

std::string SntpClientRequest() {
  std::string packet(48, '\0');
  packet[0] = static_cast<char>((0 << 6) | (4 << 3) | 3);
  // Transmit timestamp (bytes 40..47): seconds since 1900; the server echoes it as origin.
  auto now = std::chrono::system_clock::now().time_since_epoch();
  std::uint64_t seconds =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count()) +
      2208988800ULL;
  for (int i = 0; i < 4; ++i) packet[40 + i] = static_cast<char>((seconds >> (24 - 8 * i)) & 0xFF);
  packet[47] = 1;
  return packet;
}

Chrony::Chrony() {
  const std::string chronyd = RequireProgram("chronyd", "chrony");
  FPort = FreeUdpPort();
  const std::string d = FDir.Path().string();
  FDir.Write("chrony.conf", "port " + std::to_string(FPort) +
                                "\n"
                                "bindaddress 127.0.0.1\n"
                                "allow 127.0.0.1\n"
                                "local stratum 10\n"
                                "cmdport 0\n"
                                "pidfile " +
                                d +
                                "/chronyd.pid\n"
                                "driftfile " +
                                d +
                                "/chrony.drift\n"
                                "logdir " +
                                d + "\n");
  std::vector<std::string> argv{chronyd, "-x", "-d", "-f", d + "/chrony.conf"};
  // As root chronyd would switch to _chrony, which cannot write in our private folder.
  if (::geteuid() == 0) {
    argv.push_back("-u");
    argv.push_back("root");
  }
  FProcess = std::make_unique<Process>(argv, std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "chronyd", std::chrono::seconds(15), [this] {
      auto reply = UdpExchange(FPort, SntpClientRequest(), std::chrono::milliseconds(300));
      return reply && is_server_reply(*reply);
    });
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

Chrony::~Chrony() { Stop(); }

std::string Chrony::LogText() const { return FProcess ? FProcess->Log() : std::string(); }

void Chrony::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
