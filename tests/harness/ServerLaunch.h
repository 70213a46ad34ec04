#pragma once
// Real servers on loopback, all started one way (Peer) from one table (ServerLaunch.cpp) of
// program, configuration template (conf/) and readiness probe; the named servers below are small
// shapes over it.

#include "harness/Process.h"
#include "harness/TempDir.h"
#include "harness/TestCA.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qninet::harness {

/// A server that cannot run here: its program is missing, or it needs root.
struct Unavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string LoopbackUrl(const char* scheme, std::uint16_t port, const std::string& path);

/// The program's full path; throws Unavailable naming the Debian package when it is missing.
std::string RequireProgram(const std::string& name, const std::string& package);

/// The files in folder whose names end in `suffix`, sorted by name, once at least `expected`
/// are there or timeout passed.
std::vector<std::filesystem::path> WaitForFiles(const std::filesystem::path& folder,
                                                const std::string& suffix, std::size_t expected,
                                                std::chrono::milliseconds timeout);

/// A real server on 127.0.0.1 from its row of the table: configured in a temporary folder on free
/// ports, run in the foreground in its own process group, stopped with its workers when it goes.
class Peer {
public:
  using Values = std::map<std::string, std::string>;
  /// Makes the folder and picks the port of the row `name` ("nginx", "pure-authd"; its program's
  /// name), and `morePorts` more TCP ones; nothing runs until Start().
  explicit Peer(std::string_view name, std::size_t morePorts = 0);
  virtual ~Peer() { Stop(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  /// Writes the configuration ({DIR}, {PORT}, {PORT2}, {USER}, `values`), runs the program with
  /// `extraArgs` after the row's and waits (bounded) for the probe. Throws Unavailable when the
  /// program is missing or needs root, std::runtime_error with the logs when it does not come up.
  void Start(Values values = {}, const std::vector<std::string>& extraArgs = {});
  void Stop();  ///< with its workers; idempotent
  /// Freezes the server in place (SIGSTOP: connections still complete, nothing answers), or thaws it.
  void Pause(bool paused) const;
  std::uint16_t Port() const { return FPorts[0]; }
  const std::filesystem::path& Dir() const { return FDir.Path(); }
  /// The row's log file, then the program's output.
  std::string LogText() const;

protected:
  TempDir FDir;
  const struct Row& FRow;
  bool FConnectOnly = false;  ///< the probe only connects (a greeting under TLS is unreadable)
  std::vector<std::uint16_t> FPorts;
  std::unique_ptr<Process> FProcess;
};

/// nginx or lighttpd serving DocRoot() with Last-Modified from file times, HEAD and ranges; with
/// https a second port speaks TLS with a TestCA's certificate. Configure, then Start().
class WebServer : public Peer {
public:
  void Start();
  const std::filesystem::path& DocRoot() const { return FDocRoot; }
  /// 0 and null without https.
  std::uint16_t HttpsPort() const { return FCA ? FPorts[1] : 0; }
  const TestCA* CA() const { return FCA.get(); }
  std::string Url(const std::string& path = "/") const { return LoopbackUrl("http", Port(), path); }
  std::string HttpsUrl(const std::string& path = "/") const {
    return LoopbackUrl("https", HttpsPort(), path);
  }
  std::string AccessLog() const { return ReadFileText(FDir.File("access.log")); }
  /// Write a file under DocRoot() (folders made) and return its path; the large one holds
  /// Pattern(size): `n` bytes of a pattern without line ends, from its byte `from` on.
  std::filesystem::path WriteFile(const std::string& relativePath, std::string_view bytes) const;
  std::filesystem::path WriteLargeFile(const std::string& relativePath, std::uint64_t size) const;
  static std::string Pattern(std::size_t n, std::uint64_t from = 0);

protected:
  WebServer(std::string_view name, bool https);
  std::string FExtra;  ///< configuration added by the test
  std::filesystem::path FDocRoot;
  std::unique_ptr<TestCA> FCA;
};

/// nginx in the foreground (`daemon off`), every path (pid, logs, temp folders) in its folder.
class Nginx : public WebServer {
public:
  explicit Nginx(bool https = false) : WebServer("nginx", https) {}
  /// Raw text for the server block; Basic credentials required under a prefix (an htpasswd made
  /// with openssl); an exact path answering a status with nginx's own body, or a redirect.
  void AddLocation(const std::string& text) { FExtra += text + "\n"; }
  void AddBasicAuthLocation(const std::string& path, const std::string& user, const std::string& password);
  void AddStatusLocation(const std::string& path, int status);
  void AddRedirect(const std::string& path, const std::string& url, int status = 301);
};

/// lighttpd in the foreground (`-D`); TLS through mod_openssl.
class Lighttpd : public WebServer {
public:
  explicit Lighttpd(bool https = false) : WebServer("lighttpd", https) {}
  /// Adds raw configuration (conditionals such as `$HTTP["url"] =~ "^/x/" { ... }`).
  void AddConfig(const std::string& text) { FExtra += text + "\n"; }
};

/// squid as a forward proxy for 127.0.0.1 only, with no cache; every request is in its log.
struct Squid : Peer {
  Squid();
  std::string AccessLog() const { return ReadFileText(FDir.File("access.log")); }
};

/// tinyproxy allowing only 127.0.0.1, logging every request at Info level.
struct TinyProxy : Peer {
  struct Options {
    std::string User;  ///< with Password: the proxy requires Basic credentials
    std::string Password;
    std::vector<std::uint16_t> ConnectPorts;  ///< ports CONNECT may reach; empty allows all
  };
  explicit TinyProxy(const Options& options);
  TinyProxy() : TinyProxy(Options{}) {}
};

/// dnsmasq, authoritative only, UDP and TCP on one port: no upstream, no hosts file; only the
/// records given as its options ("--address=/www.test/10.1.2.3", "--mx-host=test,mail.test,10").
struct Dnsmasq : Peer {
  explicit Dnsmasq(const std::vector<std::string>& records) : Peer("dnsmasq") { Start({}, records); }
};

/// unbound answering from the "server:" lines given (`local-data: ...`) alone; with `tls` also DNS
/// over TLS on TlsPort() and over HTTPS (HTTP/2 only, /dns-query) on HttpsPort(), under CA().
struct Unbound : Peer {
  explicit Unbound(const std::vector<std::string>& serverLines, bool tls = false);
  std::uint16_t TlsPort() const { return FPorts.at(1); }
  std::uint16_t HttpsPort() const { return FPorts.at(2); }
  const TestCA& CA() const { return *FCA; }

private:
  std::unique_ptr<TestCA> FCA;
};
struct UnboundTls : Unbound {
  explicit UnboundTls(const std::vector<std::string>& serverLines) : Unbound(serverLines, true) {}
};

/// chronyd serving NTP from its local clock (stratum 10), never touching the system clock.
struct Chrony : Peer {
  Chrony() : Peer("chronyd") { Start(); }
};

/// ntpsec's ntpd on port 123 (it has no other, so it needs root) in orphan mode, without
/// CAP_SYS_TIME (it can never set the clock); unpacked by scripts/install-deps.sh.
struct Ntpsec : Peer {
  Ntpsec() : Peer("ntpsec") { Start(); }
};

/// xinetd's internal daytime service on port 13 (needs root): "06 DEC 2026 20:51:52 UTC\r\n".
struct XinetdDaytime : Peer {
  XinetdDaytime() : Peer("xinetd") { Start(); }
};

/// OpenSMTPD (root only) delivering each recipient's copy, opened by "Return-Path: <sender>" and
/// "Delivered-To: recipient", into one maildir as nobody; refusedRecipients are refused at RCPT.
struct OpenSmtpd : Peer {
  explicit OpenSmtpd(const std::vector<std::string>& refusedRecipients = {});
  /// The delivered copies, sorted, once at least `expected` arrived or timeout passed.
  std::vector<std::filesystem::path> Deliveries(
      std::size_t expected, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return WaitForFiles(FDir.File("Maildir/new"), "", expected, timeout);
  }
};

/// A stored message read by Python's email package, as JSON: the headers, "date_parsed", "defects"
/// and "parts" (type, filename, charset, attachment, hex of the decoded bytes, text) (smtp_server.py).
std::string ReadStoredMessage(const std::filesystem::path& eml);
/// Lower-case hex of bytes, as the reader gives part contents, and back.
std::string HexOf(const std::string& bytes);
std::string Unhex(const std::string& hex);

/// aiosmtpd (smtp_server.py). Each accepted message is stored as msg-NNNN.eml (the DATA bytes,
/// dot-unstuffed) beside msg-NNNN.json ({"mail_from": ..., "rcpt_tos": [...]}).
class SmtpServer : public Peer {
public:
  /// Whether the server offers STARTTLS, or speaks TLS from the first byte.
  enum class Tls { None, StartTls, Implicit };
  struct Options {
    std::string User{};  ///< with Password: AUTH (LOGIN, PLAIN, CRAM-MD5) accepts only this account
    std::string Password{};
    bool RequireAuth = false;                      ///< refuse MAIL before a successful AUTH
    std::vector<std::string> RefusedRecipients{};  ///< answered 550 5.1.1 <addr>: Recipient address rejected
    Tls TlsMode = Tls::None;
    std::filesystem::path CertFile{}, KeyFile{};  ///< the server's certificate (PEM) under TLS
    std::vector<std::string> ExcludedAuth{};      ///< mechanisms not offered ("CRAM-MD5")
  };
  /// With a `token`, XOAUTH2 and OAUTHBEARER accept User with it; SMTPUTF8 and 8BITMIME are
  /// offered or not.
  explicit SmtpServer(const Options& options, const std::string& token = "", bool smtputf8 = false,
                      bool eightBitMime = true);
  SmtpServer() : SmtpServer(Options{}) {}
  /// The .eml paths in arrival order, once at least `expected` arrived or timeout passed.
  std::vector<std::filesystem::path> Messages(
      std::size_t expected = 0, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
    return WaitForFiles(FDir.File("messages"), ".eml", expected, timeout);
  }
  static std::string Envelope(std::filesystem::path message) {
    return ReadFileText(message.replace_extension(".json"));
  }
  /// One line per EHLO, AUTH and MAIL received: "AUTH PLAIN tls=yes", "MAIL  tls=no".
  std::string Commands() const { return ReadFileText(FDir.File("commands.log")); }
  /// Every byte the clients sent, in clear.
  std::string Received() const { return ReadFileText(FDir.File("received.log")); }
};

/// The FTP server implementations a client must get along with.
enum class FtpPeerKind {
  Pyftpdlib,     ///< MLSD (links followed)
  PyftpdlibDos,  ///< LIST only, in the DOS/IIS dialect ("12-06-26  08:51PM  <DIR>  name")
  Vsftpd,        ///< LIST only (links listed as links); anonymous, starting at "/"
  Proftpd,       ///< MLSD
  ProftpdList,   ///< LIST only (MLSD and MLST denied, not advertised)
  PureFtpd,      ///< MLSD (links listed as links)
};

/// A real FTP server: Root() is its "/", readable by every account; User()'s login starts in
/// LoginFolder() ("/home/u"; "/" for vsftpd's anonymous login). proftpd and pure-ftpd run unpacked
/// by scripts/install-deps.sh; they and vsftpd need root (their logins chroot).
class FtpPeer : public Peer {
public:
  /// The pyftpdlib kinds take the account and the login folder given; starting at "/", they let
  /// anonymous logins read the tree too.
  explicit FtpPeer(FtpPeerKind kind, std::string user = "tester", std::string password = "secret",
                   std::string login = "/home/u");
  ~FtpPeer() override { Stop(); }
  const std::string& Name() const { return FName; }
  const std::filesystem::path& Root() const { return FRoot; }
  const std::string& LoginFolder() const { return FLogin; }
  /// Empty for an anonymous login.
  const std::string& User() const { return FUser; }
  const std::string& Password() const { return FPassword; }
  std::string Url(const std::string& path = "/") const { return LoopbackUrl("ftp", Port(), path); }

protected:
  std::filesystem::path FRoot;
  std::string FName, FLogin, FUser, FPassword;
  std::unique_ptr<Peer> FHelper;  // pure-authd, which answers pure-ftpd's logins
};

/// pyftpdlib: one account of full rights whose login starts at Root(), and anonymous reading.
struct FtpServer : FtpPeer {
  explicit FtpServer(std::string user = "tester", std::string password = "secret")
      : FtpPeer(FtpPeerKind::Pyftpdlib, std::move(user), std::move(password), "/") {}
};

/// One request as the service fixture received it, whole.
struct Exchange {
  std::string Method, Path, Query;  ///< the path and query as sent (escapes kept)
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  /// The header's value (names compared ignoring case), or none when it was not sent.
  std::optional<std::string> Header(const std::string& name) const;
  std::string Target() const { return Query.empty() ? Path : Path + "?" + Query; }
};

/// A loopback HTTPS stand-in (service_fixture.py) for the translator's and the UPS tracker's web
/// services, and for Digest logins.
class ServiceFixture : public Peer {
public:
  ServiceFixture();
  std::string Url(const std::string& path) const { return LoopbackUrl("https", Port(), path); }
  std::string CaFile() const { return FCA.CaCert().string(); }
  /// The bytes Speak answers with.
  void SetAudio(std::string_view bytes) const { FDir.Write("audio.bin", bytes); }
  std::vector<Exchange> Exchanges() const;  ///< every request so far, in order

private:
  TestCA FCA;
};

}  // namespace qninet::harness
