#include "harness/FtpPeers.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"
#include "harness/TcpClient.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qninet::harness {
namespace {

// pyftpdlib with the login below its root and, for "dos", LIST alone in the DOS dialect.
const char* const kPyftpd = R"PY(import logging, os, stat, sys, time
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

port, root, user, password, login, dos = sys.argv[1:7]

class FS(AbstractedFS):
    def __init__(self, r, channel):
        super().__init__(r, channel)
        self._cwd = login

    def format_list(self, basedir, listing, ignore_err=True):
        if dos != "1":
            yield from super().format_list(basedir, listing, ignore_err)
            return
        for name in listing:
            try:
                st = self.stat(os.path.join(basedir, name))
            except OSError:
                continue
            when = time.strftime("%m-%d-%y  %I:%M%p", time.gmtime(st.st_mtime))
            what = "<DIR>         " if stat.S_ISDIR(st.st_mode) else "%14d" % st.st_size
            yield ("%s       %s %s\r\n" % (when, what, name)).encode("utf8", self.cmd_channel.unicode_errors)

class Handler(FTPHandler):
    abstracted_fs = FS
    if dos == "1":
        proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ("MLSD", "MLST")}

authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr")
Handler.authorizer = authorizer
logging.basicConfig(level=logging.INFO, stream=sys.stderr)
FTPServer(("127.0.0.1", int(port)), Handler).serve_forever()
)PY";

const char* const kVsftpd = R"(listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port={PORT}
background=NO
anonymous_enable=YES
no_anon_password=YES
local_enable=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
pasv_enable=YES
anon_root={ROOT}
ftp_username=daemon
nopriv_user=daemon
secure_chroot_dir={DIR}/empty
xferlog_enable=NO
)";

const char* const kProftpd = R"(ServerType standalone
ServerName "qninet"
Port {PORT}
DefaultAddress 127.0.0.1
SocketBindTight on
UseIPv6 off
User nobody
Group nogroup
PidFile {DIR}/proftpd.pid
ScoreboardFile {DIR}/scoreboard
SystemLog {DIR}/system.log
DelayTable none
WtmpLog off
TransferLog none
UseReverseDNS off
RequireValidShell off
AuthPAM off
AuthOrder mod_auth_file.c mod_auth_unix.c
AuthUserFile {DIR}/passwd
DefaultRoot {ROOT}
{EXTRA}
)";

const char* const kProftpdListOnly = R"(FactsAdvertise off
<Limit MLSD MLST>
  DenyAll
</Limit>)";

// crypt(3) of "secret" (MD5, salt "qninet").
const char* const kSecretHash = "$1$qninet$mmutJawJ07tvF0Btv9Xtz.";

std::string fill(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values)
    for (std::size_t at; (at = text.find("{" + key + "}")) != std::string::npos;)
      text.replace(at, key.size() + 2, value);
  return text;
}

std::string peer_program(const std::string& package, const std::string& program) {
  const char* dir = std::getenv("QNINET_PEERS_DIR");
  const fs::path path =
      fs::path(dir && *dir ? dir : "/var/cache/qninet-peers") / package / "usr/sbin" / program;
  if (!fs::exists(path))
    throw std::runtime_error(path.string() + " is missing: scripts/install-deps.sh test unpacks " + package);
  return path.string();
}

// The greeting may span lines ("220-...") before its last one ("220 ...").
bool greets(std::uint16_t port) {
  if (!WaitForTcpPort(port, std::chrono::milliseconds(100))) return false;
  try {
    TcpClient probe(port, "127.0.0.1", std::chrono::seconds(2));
    for (int i = 0; i < 20; ++i)
      if (probe.ReadLine().rfind("220 ", 0) == 0) return true;
  } catch (const std::exception&) {
  }
  return false;
}

}  // namespace

FtpPeer::FtpPeer(FtpPeerKind kind) {
  // The servers drop to nobody or daemon, who must reach the tree.
  fs::permissions(FDir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  FRoot = FDir.Path() / "root";
  fs::create_directories(FRoot / "home/u");
  FPort = FreePort();
  const std::map<std::string, std::string> values{
      {"PORT", std::to_string(FPort)}, {"ROOT", FRoot.string()}, {"DIR", FDir.Path().string()}};
  std::vector<std::string> argv;
  switch (kind) {
    case FtpPeerKind::Pyftpdlib:
    case FtpPeerKind::PyftpdlibDos: {
      const bool dos = kind == FtpPeerKind::PyftpdlibDos;
      FName = dos ? "pyftpdlib-dos" : "pyftpdlib";
      argv = {RequireProgram("/usr/bin/python3", "python3-pyftpdlib"),
              "-u",
              FDir.Write("ftpd.py", kPyftpd).string(),
              std::to_string(FPort),
              FRoot.string(),
              FUser,
              FPassword,
              FLogin,
              dos ? "1" : "0"};
      break;
    }
    case FtpPeerKind::Vsftpd:
      FName = "vsftpd";
      FLogin = "/";
      FUser.clear();
      FPassword.clear();
      fs::create_directories(FDir.Path() / "empty");
      argv = {RequireProgram("/usr/sbin/vsftpd", "vsftpd"),
              FDir.Write("vsftpd.conf", fill(kVsftpd, values)).string()};
      break;
    case FtpPeerKind::Proftpd:
    case FtpPeerKind::ProftpdList: {
      const bool list = kind == FtpPeerKind::ProftpdList;
      FName = list ? "proftpd-list" : "proftpd";
      auto v = values;
      v["EXTRA"] = list ? kProftpdListOnly : "";
      const auto passwd =
          FDir.Write("passwd", FUser + ":" + kSecretHash + ":65534:65534::" + (FRoot / "home/u").string() +
                                   ":/bin/sh\n");
      fs::permissions(passwd, fs::perms::owner_read | fs::perms::owner_write);  // it refuses a readable one
      FLogs.push_back(FDir.Path() / "system.log");
      argv = {peer_program("proftpd-core", "proftpd"), "-n", "-q", "-c",
              FDir.Write("proftpd.conf", fill(kProftpd, v)).string()};
      break;
    }
    case FtpPeerKind::PureFtpd: {
      FName = "pure-ftpd";
      const auto script = FDir.Write(
          "auth.sh", "#!/bin/sh\nprintf 'auth_ok:1\\nuid:65534\\ngid:65534\\ndir:" + FRoot.string() +
                         "/./home/u\\nend\\n'\n");
      fs::permissions(script, fs::perms::owner_all);
      const std::string socket = (FDir.Path() / "authd.sock").string();
      FProcesses.push_back(
          std::make_unique<Process>(std::vector<std::string>{peer_program("pure-ftpd", "pure-authd"), "-s",
                                                             socket, "-r", script.string()},
                                    std::map<std::string, std::string>{}, FDir.Path()));
      WaitUntilUp(*FProcesses.back(), "pure-authd", std::chrono::seconds(10),
                  [&] { return fs::exists(socket); });
      argv = {peer_program("pure-ftpd", "pure-ftpd"),
              "-S",
              "127.0.0.1," + std::to_string(FPort),
              "-l",
              "extauth:" + socket,
              "-E",
              "-H",
              "-A"};
      break;
    }
  }
  FProcesses.push_back(std::make_unique<Process>(argv, std::map<std::string, std::string>{}, FDir.Path()));
  WaitUntilUp(
      *FProcesses.back(), FName, std::chrono::seconds(20), [this] { return greets(FPort); }, FLogs);
}

FtpPeer::~FtpPeer() {
  for (auto it = FProcesses.rbegin(); it != FProcesses.rend(); ++it) (*it)->Stop();
}

std::string FtpPeer::Url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string FtpPeer::LogText() const {
  std::string text;
  for (const auto& p : FProcesses) text += p->Log();
  return text + LogTails(FLogs);
}

}  // namespace qninet::harness
