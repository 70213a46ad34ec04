#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"
#include "harness/TestCA.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qninet::harness {

/// nginx on 127.0.0.1 in the foreground, with every path (pid, logs, temp folders) inside its
/// temporary folder. Serves DocRoot() with sendfile, Last-Modified from file times, HTTP/1.0
/// and 1.1. Configure with the Add... methods, then Start().
class Nginx {
public:
  /// Prepares the folders and picks free ports; with https a TestCA is made and a TLS port
  /// added. Nothing runs until Start().
  explicit Nginx(bool https = false);
  /// Stops the server.
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  /// Adds raw text to the server block (locations and directives).
  void AddLocation(const std::string& text);
  /// Requires Basic credentials for the prefix path (files under DocRoot()/path); writes an
  /// htpasswd made with `openssl passwd -apr1`. Throws when openssl fails.
  void AddBasicAuthLocation(const std::string& path, const std::string& user, const std::string& password);
  /// The exact path answers with status (e.g. 500) and nginx's own body.
  void AddStatusLocation(const std::string& path, int status);
  /// The exact path redirects to url with status (301, 302, 303, 307, 308).
  void AddRedirect(const std::string& path, const std::string& url, int status = 301);

  /// Writes the configuration, starts nginx and waits (bounded) until it accepts
  /// connections. Throws std::runtime_error with the log tails when it does not come up.
  void Start();
  /// Stops nginx and its workers. Idempotent.
  void Stop();

  std::uint16_t Port() const { return FPort; }
  /// 0 without https.
  std::uint16_t HttpsPort() const { return FHttpsPort; }
  const std::filesystem::path& DocRoot() const { return FDocRoot; }
  /// Writes a file under DocRoot() (folders made) and returns its path.
  std::filesystem::path WriteFile(const std::string& relativePath, std::string_view bytes) const;
  /// Writes a file of size bytes under DocRoot() whose byte i is PatternByte(i), in pieces.
  std::filesystem::path WriteLargeFile(const std::string& relativePath, std::uint64_t size) const;
  /// The content of byte i of a WriteLargeFile file.
  static char PatternByte(std::uint64_t i) { return static_cast<char>('a' + (i * 7 + i / 251) % 26); }
  /// "http://127.0.0.1:PORT" + path.
  std::string Url(const std::string& path = "/") const;
  /// "https://127.0.0.1:PORT" + path.
  std::string HttpsUrl(const std::string& path = "/") const;
  /// The CA behind the TLS port, or null without https.
  const TestCA* CA() const { return FCA.get(); }
  std::string ErrorLog() const;
  std::string AccessLog() const;
  const std::filesystem::path& Dir() const { return FDir.Path(); }

private:
  TempDir FDir{"qninet-nginx"};
  std::filesystem::path FDocRoot;
  std::unique_ptr<TestCA> FCA;
  std::uint16_t FPort = 0;
  std::uint16_t FHttpsPort = 0;
  std::string FLocations;
  int FAuthFiles = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
