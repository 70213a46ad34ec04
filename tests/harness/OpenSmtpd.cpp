#include "harness/OpenSmtpd.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace qninet::harness {

OpenSmtpd::OpenSmtpd(const std::vector<std::string>& refusedRecipients) {
  const std::string smtpd = RequireProgram("smtpd", "opensmtpd");
  if (::geteuid() != 0) throw std::runtime_error("OpenSMTPD must be started as root");
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) throw std::runtime_error("OpenSMTPD delivers as user nobody, which does not exist");
  FPort = FreePort();
  const auto maildir = FDir.Path() / "Maildir";
  std::filesystem::create_directories(maildir);
  // Deliveries run as nobody (smtpd refuses to deliver as root): it must reach the maildir.
  std::filesystem::permissions(FDir.Path(), std::filesystem::perms::owner_all |
                                                std::filesystem::perms::group_exec |
                                                std::filesystem::perms::others_exec);
  if (::chown(maildir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
    throw std::runtime_error("cannot hand the maildir to nobody");
  // The catch-all virtual table makes every address deliverable; without it smtpd looks the
  // local part up as a system user and refuses the rest. The first matching rule wins.
  std::string conf =
      "table recipients { \"@\" = \"nobody\" }\n"
      "listen on 127.0.0.1 port " +
      std::to_string(FPort) +
      " hostname qninet.test\n"
      "action \"deliver\" maildir \"" +
      maildir.string() + "\" virtual <recipients> user nobody\n";
  for (const auto& address : refusedRecipients)
    conf += "match from any for rcpt-to \"" + address + "\" reject\n";
  FDir.Write("smtpd.conf", conf + "match from any for any action \"deliver\"\n");
  FProcess = std::make_unique<Process>(
      std::vector<std::string>{smtpd, "-d", "-v", "-f", FDir.File("smtpd.conf").string()},
      std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "smtpd", std::chrono::seconds(15),
                [this] { return WaitForTcpPort(FPort, std::chrono::milliseconds(100)); });
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

OpenSmtpd::~OpenSmtpd() { Stop(); }

std::vector<std::filesystem::path> OpenSmtpd::Deliveries(std::size_t expected,
                                                         std::chrono::milliseconds timeout) const {
  const auto fresh = FDir.Path() / "Maildir" / "new";
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fresh, ec)) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    if (found.size() >= expected || std::chrono::steady_clock::now() >= deadline) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string OpenSmtpd::LogText() const { return FProcess ? FProcess->LogTail(6000) : std::string(); }

void OpenSmtpd::Stop() {
  if (FProcess) FProcess->Stop();
}

}  // namespace qninet::harness
