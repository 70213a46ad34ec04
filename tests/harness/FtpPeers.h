#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qninet::harness {

/// The FTP server implementations a client must get along with.
enum class FtpPeerKind {
  Pyftpdlib,     ///< MLSD (links followed)
  PyftpdlibDos,  ///< LIST only, in the DOS/IIS dialect ("12-06-26  08:51PM  <DIR>  name")
  Vsftpd,        ///< LIST only (links listed as links); anonymous, starting at "/"
  Proftpd,       ///< MLSD
  ProftpdList,   ///< LIST only (MLSD and MLST denied, not advertised)
  PureFtpd,      ///< MLSD (links listed as links)
};

/// One real FTP server on 127.0.0.1 with a fresh configuration in a temporary folder: Root()
/// is its "/", readable by every account, and the login of User() starts in LoginFolder()
/// ("/home/u", made here; "/" for vsftpd, whose anonymous login cannot start below its root).
/// vsftpd is Debian's; proftpd and pure-ftpd conflict with it as Debian installs, so they run
/// from the packages scripts/install-deps.sh unpacks into $QNINET_PEERS_DIR
/// (/var/cache/qninet-peers). They need root (their logins chroot).
class FtpPeer {
public:
  /// Starts the server and waits (bounded) for its greeting. Throws std::runtime_error with
  /// the log tail when the program is missing or does not come up.
  explicit FtpPeer(FtpPeerKind kind);
  ~FtpPeer();
  FtpPeer(const FtpPeer&) = delete;
  FtpPeer& operator=(const FtpPeer&) = delete;

  const std::string& Name() const { return FName; }
  std::uint16_t Port() const { return FPort; }
  const std::filesystem::path& Root() const { return FRoot; }
  const std::string& LoginFolder() const { return FLogin; }
  /// Empty for an anonymous login.
  const std::string& User() const { return FUser; }
  const std::string& Password() const { return FPassword; }
  /// "ftp://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path) const;
  std::string LogText() const;

private:
  TempDir FDir{"qninet-peer"};
  std::filesystem::path FRoot;
  std::string FName, FLogin = "/home/u", FUser = "tester", FPassword = "secret";
  std::uint16_t FPort = 0;
  std::vector<std::unique_ptr<Process>> FProcesses;  // the helper (pure-authd) first
  std::vector<std::filesystem::path> FLogs;
};

}  // namespace qninet::harness
