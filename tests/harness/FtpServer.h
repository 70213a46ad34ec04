#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qninet::harness {

/// A pyftpdlib FTP server (run with /usr/bin/python3) on 127.0.0.1: one account with full
/// rights on Root(), anonymous read-only access to the same folder, passive ports among free
/// loopback ports, MLSD/MLST/LIST/SIZE/MDTM/REST as pyftpdlib provides them.
class FtpServer {
public:
  /// Starts the server and waits (bounded) for its greeting. Throws std::runtime_error
  /// with the log tail when python3-pyftpdlib is missing or it does not come up.
  explicit FtpServer(std::string user = "tester", std::string password = "secret", bool anonymous = true);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// The served folder (home of the account and of anonymous); tests fill it.
  const std::filesystem::path& Root() const { return FRoot; }
  const std::string& User() const { return FUser; }
  const std::string& Password() const { return FPassword; }
  /// The ports offered for passive data connections.
  const std::vector<std::uint16_t>& PassivePorts() const { return FPassivePorts; }
  /// "ftp://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path = "/") const;
  /// The server's log (pyftpdlib writes one line per command).
  std::string LogText() const;
  /// Stops the server. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-ftp"};
  std::filesystem::path FRoot;
  std::string FUser, FPassword;
  std::uint16_t FPort = 0;
  std::vector<std::uint16_t> FPassivePorts;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
