#include "harness/ServerLaunch.h"

#include "harness/Ports.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace qninet::harness {

enum class Ready : std::uint8_t {
  Connect,   // every port accepts TCP connections
  Greeting,  // the first port greets with a "220 " line
  Line,      // the first port answers a connection with a line
  Sntp,      // the first port answers an SNTP request as a serving clock
  Socket,    // the file {DIR}/authd.sock appears
};
enum class Ports : std::uint8_t { Tcp, Udp, TcpUdp };

// One row of the table: what runs, its configuration and how to tell it is ready.
struct Row {
  const char* Name;
  const char* Package;            // what provides Argv[0]
  std::vector<const char*> Argv;  // "@package/path": unpacked under the peers folder; "?arg": as root
  bool Config = false;            // conf/Name.conf is the template of {DIR}/Name.conf
  Ready Probe = Ready::Connect;
  const char* Log = nullptr;  // a log file in {DIR}
  Ports Kind = Ports::Tcp;
  std::uint16_t Fixed = 0;  // a port the program cannot be moved from
  bool Root = false;        // needs root
};

namespace {

const Row& row(std::string_view name) {
  // clang-format off
  static const Row rows[] = {
      {"nginx", "nginx", {"nginx", "-p", "{DIR}", "-e", "{DIR}/error.log", "-c", "{DIR}/nginx.conf"}, true,
       Ready::Connect, "error.log"},
      {"lighttpd", "lighttpd", {"lighttpd", "-D", "-f", "{DIR}/lighttpd.conf"}, true, Ready::Connect, "error.log"},
      {"squid", "squid", {"squid", "-N", "-f", "{DIR}/squid.conf"}, true, Ready::Connect, "cache.log"},
      {"tinyproxy", "tinyproxy", {"tinyproxy", "-d", "-c", "{DIR}/tinyproxy.conf"}, true, Ready::Connect,
       "tinyproxy.log"},
      // As root dnsmasq would switch to nobody, who cannot write the log here.
      {"dnsmasq", "dnsmasq-base",
       {"dnsmasq", "--keep-in-foreground", "--port={PORT}", "--listen-address=127.0.0.1", "--bind-interfaces",
        "--no-resolv", "--no-hosts", "--no-poll", "--conf-file=/dev/null", "--pid-file={DIR}/dnsmasq.pid",
        "--log-queries", "--log-facility={DIR}/dnsmasq.log", "?--user=root"},
       false, Ready::Connect, "dnsmasq.log", Ports::TcpUdp},
      {"unbound", "unbound", {"unbound", "-d", "-c", "{DIR}/unbound.conf"}, true, Ready::Connect, "unbound.log",
       Ports::TcpUdp},
      // -x: never touch the clock; it needs root, and would switch to _chrony, locked out of the folder.
      {"chronyd", "chrony", {"chronyd", "-x", "-d", "-f", "{DIR}/chronyd.conf", "-u", "root"}, true,
       Ready::Sntp, nullptr, Ports::Udp, 0, true},
      // Without CAP_SYS_TIME even a start-up adjustment of the kernel's clock state fails harmlessly.
      {"ntpsec", "util-linux",
       {"setpriv", "--bounding-set=-sys_time", "--inh-caps=-sys_time", "@ntpsec/usr/sbin/ntpd", "-n", "-c",
        "{DIR}/ntpsec.conf", "-l", "{DIR}/ntpd.log", "-p", "{DIR}/ntpd.pid"},
       true, Ready::Sntp, "ntpd.log", Ports::Udp, 123, true},
      {"xinetd", "xinetd", {"xinetd", "-dontfork", "-f", "{DIR}/xinetd.conf", "-pidfile", "{DIR}/xinetd.pid"},
       true, Ready::Line, "xinetd.log", Ports::Tcp, 13, true},
      // The queue's place is built in (/var/spool/smtpd): each instance gets a spool of its own in a
      // mount namespace, so two never deliver each other's mail, nor what a killed run left queued.
      {"smtpd", "util-linux",
       {"unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
        "mount --bind {DIR}/spool /var/spool/smtpd && exec smtpd -d -v -f {DIR}/smtpd.conf"},
       true, Ready::Connect, nullptr, Ports::Tcp, 0, true},
      {"aiosmtpd", "python3-aiosmtpd",
       {"/usr/bin/python3", "-u", QNINET_HARNESS_DIR "/smtp_server.py", "{PORT}", "{DIR}"}, false,
       Ready::Greeting},
      {"service-fixture", "python3",
       {"/usr/bin/python3", "-u", QNINET_HARNESS_DIR "/service_fixture.py", "{PORT}", "{CERT}", "{KEY}",
        "{DIR}/requests.log", "{DIR}/audio.bin"}},
      {"pyftpdlib", "python3-pyftpdlib",
       {"/usr/bin/python3", "-u", QNINET_HARNESS_DIR "/ftp_server.py", "{PORT}", "{ROOT}"}, false,
       Ready::Greeting},
      {"vsftpd", "vsftpd", {"vsftpd", "{DIR}/vsftpd.conf"}, true, Ready::Greeting, nullptr, Ports::Tcp, 0, true},
      {"proftpd", "proftpd-core", {"@proftpd-core/usr/sbin/proftpd", "-n", "-q", "-c", "{DIR}/proftpd.conf"},
       true, Ready::Greeting, "system.log", Ports::Tcp, 0, true},
      {"pure-authd", "pure-ftpd", {"@pure-ftpd/usr/sbin/pure-authd", "-s", "{DIR}/authd.sock", "-r", "{SCRIPT}"},
       false, Ready::Socket, nullptr, Ports::Tcp, 0, true},
      {"pure-ftpd", "pure-ftpd",
       {"@pure-ftpd/usr/sbin/pure-ftpd", "-S", "127.0.0.1,{PORT}", "-l", "extauth:{SOCKET}", "-E", "-H", "-A"},
       false, Ready::Greeting, nullptr, Ports::Tcp, 0, true},
  };
  // clang-format on
  for (const Row& r : rows)
    if (r.Name == name) return r;
  throw std::logic_error("no server row " + std::string(name));
}

// Fills each {KEY} of values in, the text filled in filled in as well; other braces stay.
std::string fill(std::string text, const Peer::Values& values) {
  for (std::size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at)) {
    const auto value = values.find(text.substr(at + 1, text.find('}', at) - at - 1));
    if (value == values.end())
      ++at;
    else
      text.replace(at, value->first.size() + 2, value->second);
  }
  return text;
}

std::string conf(const std::string& name) {
  const std::string text = ReadFileText(QNINET_HARNESS_DIR "/conf/" + name + ".conf");
  if (text.empty()) throw std::runtime_error("no template conf/" + name + ".conf");
  return text;
}

std::string program(const std::string& name, const Row& r) {
  if (name[0] != '@') return RequireProgram(name, r.Package);
  const char* dir = std::getenv("QNINET_PEERS_DIR");
  const std::string path = (dir && *dir ? dir : "/var/cache/qninet-peers") + ("/" + name.substr(1));
  if (!fs::exists(path))
    throw Unavailable(path + " is missing: scripts/install-deps.sh test unpacks " +
                      name.substr(1, name.find('/') - 1));
  return path;
}

}  // namespace

std::string LoopbackUrl(const char* scheme, std::uint16_t port, const std::string& path) {
  std::string url = scheme;  // built in place: GCC 12 warns falsely on "literal" + std::string&&
  return ((url += "://127.0.0.1:") += std::to_string(port)) += path;
}

std::string RequireProgram(const std::string& name, const std::string& package) {
  std::string path = FindProgram(name);
  if (path.empty()) throw Unavailable(name + " not found; install the Debian package " + package);
  return path;
}

std::vector<fs::path> WaitForFiles(const fs::path& folder, const std::string& suffix, std::size_t expected,
                                   std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
      if (entry.path().string().ends_with(suffix)) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    if (found.size() >= expected || std::chrono::steady_clock::now() >= deadline) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Peer::Peer(std::string_view name, std::size_t morePorts)
    : FDir("qninet-" + std::string(name)), FRow(row(name)) {
  const Row& r = FRow;
  if (r.Fixed)
    FPorts = {r.Fixed};
  else
    FPorts = {r.Kind == Ports::Udp      ? FreeUdpPort()
              : r.Kind == Ports::TcpUdp ? FreeTcpAndUdpPort()
                                        : FreePort()};
  while (FPorts.size() < 1 + morePorts)
    if (auto p = FreePort(); std::find(FPorts.begin(), FPorts.end(), p) == FPorts.end()) FPorts.push_back(p);
}

void Peer::Start(Values values, const std::vector<std::string>& extraArgs) {
  const Row& r = FRow;
  if (FProcess) throw std::runtime_error(std::string(r.Name) + ": already started");
  if (r.Root && ::geteuid() != 0) throw Unavailable(std::string(r.Name) + " must be started as root");
  // A fixed port must be reported plainly when taken, not as a start-up time-out.
  if (const std::string why = r.Fixed ? BindProblem(r.Fixed, r.Kind == Ports::Udp) : ""; !why.empty())
    throw std::runtime_error(std::string(r.Name) + ": cannot bind 127.0.0.1 port " + std::to_string(r.Fixed) +
                             ": " + why);
  const passwd* me = ::getpwuid(::geteuid());
  values.insert(
      {{"DIR", FDir.Path().string()}, {"PORT", std::to_string(Port())}, {"USER", me ? me->pw_name : "root"}});
  if (FPorts.size() > 1) values["PORT2"] = std::to_string(FPorts[1]);
  std::vector<std::string> argv;
  for (const char* a : r.Argv)
    if (a[0] != '?' || ::geteuid() == 0) argv.push_back(fill(a + (a[0] == '?'), values));
  for (std::size_t i = 0; i < argv.size(); ++i)
    if (i == 0 || argv[i][0] == '@') argv[i] = program(argv[i], r);
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  values.insert({{"EXTRA", ""}, {"TLS", ""}});
  if (r.Config) FDir.Write(std::string(r.Name) + ".conf", fill(conf(r.Name), values));
  FProcess = std::make_unique<Process>(argv, FDir.Path());
  const auto ready = [&] {
    switch (FConnectOnly ? Ready::Connect : r.Probe) {
      case Ready::Connect:
        return std::all_of(FPorts.begin(), FPorts.end(),
                           [](std::uint16_t p) { return WaitForTcpPort(p, std::chrono::milliseconds(100)); });
      case Ready::Greeting:
      case Ready::Line:
        return Greets(Port(), r.Probe == Ready::Greeting ? "220 " : "");
      case Ready::Sntp:
        return AnswersSntp(Port());
      case Ready::Socket:
        return fs::exists(FDir.File("authd.sock"));
    }
    return false;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!ready()) {
    const bool exited = !FProcess->Running();
    if (exited || std::chrono::steady_clock::now() >= deadline) {
      std::string why =
          std::string(r.Name) +
          (exited ? " exited during start-up (exit " + std::to_string(FProcess->ExitCode().value_or(-1)) + ")"
                  : " did not answer within 20 s");
      why += "\ncommand: " + FProcess->CommandLine() + "\n" + LogText();
      FProcess->Stop();
      FProcess.reset();
      throw std::runtime_error(why);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void Peer::Stop() {
  Pause(false);  // a frozen server would sit out SIGTERM's grace
  if (FProcess) FProcess->Stop();
}

void Peer::Pause(bool paused) const {
  if (FProcess) ::kill(-FProcess->Pid(), paused ? SIGSTOP : SIGCONT);
}

std::string Peer::LogText() const {
  const char* log = FRow.Log;
  return (log ? "[" + std::string(log) + "]\n" + Tail(ReadFileText(FDir.File(log)), 6000) + "\n"
              : std::string()) +
         (FProcess ? FProcess->LogTail(6000) : std::string());
}

WebServer::WebServer(std::string_view name, bool https)
    : Peer(name, https ? 1 : 0), FDocRoot(FDir.Path() / "www") {
  fs::create_directories(FDocRoot);
  if (https) FCA = std::make_unique<TestCA>();
}

void WebServer::Start() {
  Values values{{"ROOT", FDocRoot.string()}, {"EXTRA", FExtra}};
  if (FCA) {
    values.insert({{"TLS", conf(FRow.Name + std::string("-tls"))},
                   {"CERT", FCA->ServerCert().string()},
                   {"KEY", FCA->ServerKey().string()}});
    values["PEM"] =
        FDir.Write("server.pem", ReadFileText(FCA->ServerCert()) + ReadFileText(FCA->ServerKey())).string();
  }
  Peer::Start(values);
}

fs::path WebServer::WriteFile(const std::string& relativePath, std::string_view bytes) const {
  WriteFileBytes(FDocRoot / relativePath, bytes);
  return FDocRoot / relativePath;
}

std::string WebServer::Pattern(std::size_t n, std::uint64_t from) {
  std::string s(n, '\0');
  for (std::uint64_t i = from; i < from + n; ++i)
    s[i - from] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

fs::path WebServer::WriteLargeFile(const std::string& relativePath, std::uint64_t size) const {
  const fs::path path = WriteFile(relativePath, "");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::uint64_t at = 0; at < size; at += 1 << 16)
    out << Pattern(static_cast<std::size_t>(std::min<std::uint64_t>(1 << 16, size - at)), at);
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
  return path;
}

void Nginx::AddBasicAuthLocation(const std::string& path, const std::string& user,
                                 const std::string& password) {
  std::string hash = RunOrThrow({RequireProgram("openssl", "openssl"), "passwd", "-apr1", password});
  while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
  const auto file = FDir.Write("htpasswd" + std::to_string(FExtra.size()), user + ":" + hash + "\n");
  AddLocation("location " + path + " {\n  auth_basic \"QNInet test\";\n  auth_basic_user_file " +
              file.string() + ";\n}");
}

void Nginx::AddStatusLocation(const std::string& path, int status) {
  AddLocation("location = " + path + " { return " + std::to_string(status) + "; }");
}

void Nginx::AddRedirect(const std::string& path, const std::string& url, int status) {
  AddLocation("location = " + path + " { return " + std::to_string(status) + " " + url + "; }");
}

Squid::Squid() : Peer("squid") {
  // Started by root, squid works as its own user (proxy), which must write its logs here.
  fs::permissions(FDir.Path(), fs::perms::all);
  Start();
}

TinyProxy::TinyProxy(const Options& options) : Peer("tinyproxy") {
  std::string extra = options.User.empty() ? "" : "BasicAuth " + options.User + " " + options.Password + "\n";
  for (auto port : options.ConnectPorts) extra += "ConnectPort " + std::to_string(port) + "\n";
  Start({{"EXTRA", extra}});
}

Unbound::Unbound(const std::vector<std::string>& serverLines, bool tls) : Peer("unbound", tls ? 2 : 0) {
  std::string extra;
  if (tls) {
    FCA = std::make_unique<TestCA>();
    for (const auto port : {FPorts[1], FPorts[2]})
      extra += "  interface: 127.0.0.1@" + std::to_string(port) + "\n";
    extra += "  tls-port: " + std::to_string(FPorts[1]) + "\n  https-port: " + std::to_string(FPorts[2]) +
             "\n  http-endpoint: \"/dns-query\"\n  http-notls-downstream: no\n  tls-service-key: \"" +
             FCA->ServerKey().string() + "\"\n  tls-service-pem: \"" + FCA->ServerCert().string() + "\"\n";
  }
  for (const auto& line : serverLines) extra += "  " + line + "\n";
  Start({{"EXTRA", extra}});
}

OpenSmtpd::OpenSmtpd(const std::vector<std::string>& refusedRecipients) : Peer("smtpd") {
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) throw Unavailable("OpenSMTPD delivers as user nobody, who does not exist");
  RequireProgram("smtpd", "opensmtpd");
  fs::create_directory(FDir.File("spool"));
  fs::permissions(FDir.File("spool"), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  // Deliveries run as nobody (smtpd refuses to deliver as root), who must reach the maildir.
  const fs::path maildir = FDir.File("Maildir");
  fs::create_directories(maildir);
  fs::permissions(FDir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  if (::geteuid() == 0 && ::chown(maildir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
    throw std::runtime_error("cannot hand the maildir to nobody");
  std::string extra;
  for (const auto& address : refusedRecipients)
    extra += "match from any for rcpt-to \"" + address + "\" reject\n";
  Start({{"EXTRA", extra}});
}

SmtpServer::SmtpServer(const Options& o, const std::string& token, bool smtputf8, bool eightBitMime)
    : Peer("aiosmtpd") {
  fs::create_directories(FDir.File("messages"));
  // Under implicit TLS the greeting is encrypted: an accepted connection must do.
  FConnectOnly = o.TlsMode == Tls::Implicit;
  const auto list = [](const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : ",") + item;
    return out;
  };
  const char* const modes[] = {"none", "starttls", "implicit"};
  Start({}, {o.User, o.Password, o.RequireAuth ? "1" : "0", list(o.RefusedRecipients),
             modes[static_cast<int>(o.TlsMode)], o.CertFile.string(), o.KeyFile.string(),
             list(o.ExcludedAuth), token, smtputf8 ? "1" : "0", eightBitMime ? "1" : "0"});
}

std::string ReadStoredMessage(const fs::path& eml) {
  return RunOrThrow({"/usr/bin/python3", QNINET_HARNESS_DIR "/smtp_server.py", "read", eml.string()});
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string HexOf(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) (out += digits[c >> 4]) += digits[c & 15];
  return out;
}

// The row of each kind, and the name it goes by.
constexpr const char* kFtpRows[][2] = {{"pyftpdlib", "pyftpdlib"},  {"pyftpdlib", "pyftpdlib-dos"},
                                       {"vsftpd", "vsftpd"},        {"proftpd", "proftpd"},
                                       {"proftpd", "proftpd-list"}, {"pure-ftpd", "pure-ftpd"}};

FtpPeer::FtpPeer(FtpPeerKind kind, std::string user, std::string password, std::string login)
    : Peer(kFtpRows[static_cast<int>(kind)][0]),
      FRoot(FDir.File("root")),
      FName(kFtpRows[static_cast<int>(kind)][1]),
      FLogin(std::move(login)),
      FUser(std::move(user)),
      FPassword(std::move(password)) {
  // The servers drop to nobody or daemon, who must reach the tree.
  fs::permissions(FDir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  const fs::path home = FRoot / "home/u";
  fs::create_directories(FLogin == "/" ? FRoot : home);
  Values values{{"ROOT", FRoot.string()}};
  std::vector<std::string> args;
  switch (kind) {
    case FtpPeerKind::Pyftpdlib:
    case FtpPeerKind::PyftpdlibDos:
      args = {FUser, FPassword, FLogin, FLogin == "/" ? "1" : "0",
              kind == FtpPeerKind::PyftpdlibDos ? "1" : "0"};
      break;
    case FtpPeerKind::Vsftpd:
      FLogin = "/";
      FUser.clear();
      FPassword.clear();
      fs::create_directories(FDir.File("empty"));
      break;
    case FtpPeerKind::Proftpd:
    case FtpPeerKind::ProftpdList: {
      // crypt(3) of "secret" (MD5, salt "qninet"); proftpd refuses a passwd file others can read.
      const auto passwd = FDir.Write(
          "passwd", FUser + ":$1$qninet$mmutJawJ07tvF0Btv9Xtz.:65534:65534::" + home.string() + ":/bin/sh\n");
      fs::permissions(passwd, fs::perms::owner_read | fs::perms::owner_write);
      if (kind == FtpPeerKind::ProftpdList)
        values["EXTRA"] = "FactsAdvertise off\n<Limit MLSD MLST>\n  DenyAll\n</Limit>";
      break;
    }
    case FtpPeerKind::PureFtpd: {
      // pure-authd runs the script for each login: the part of dir before "/./" is the root.
      const auto script = FDir.Write(
          "auth.sh", "#!/bin/sh\nprintf 'auth_ok:1\\nuid:65534\\ngid:65534\\ndir:" + FRoot.string() +
                         "/./home/u\\nend\\n'\n");
      fs::permissions(script, fs::perms::owner_all);
      FHelper = std::make_unique<Peer>("pure-authd");
      FHelper->Start({{"SCRIPT", script.string()}});
      values["SOCKET"] = FHelper->Dir().string() + "/authd.sock";
      break;
    }
  }
  Start(values, args);
}

ServiceFixture::ServiceFixture() : Peer("service-fixture") {
  SetAudio("RIFF");
  Start({{"CERT", FCA.ServerCert().string()}, {"KEY", FCA.ServerKey().string()}});
}

std::optional<std::string> Exchange::Header(const std::string& name) const {
  for (const auto& [n, v] : Headers)
    if (std::equal(n.begin(), n.end(), name.begin(), name.end(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
      return v;
  return std::nullopt;
}

std::vector<Exchange> ServiceFixture::Exchanges() const {
  std::vector<Exchange> out;
  std::istringstream lines(ReadFileText(FDir.File("requests.log")));
  std::string method, target, body, headers;
  while (lines >> method >> target >> body >> headers) {
    target = Unhex(target);
    const auto mark = std::min(target.find('?'), target.size());
    Exchange e{
        method, target.substr(0, mark), target.substr(std::min(mark + 1, target.size())), {}, Unhex(body)};
    std::istringstream fields(Unhex(headers));
    for (std::string line; std::getline(fields, line);)
      e.Headers.emplace_back(line.substr(0, line.find(": ")), line.substr(line.find(": ") + 2));
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace qninet::harness
