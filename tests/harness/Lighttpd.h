#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"
#include "harness/TestCA.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace qninet::harness {

/// lighttpd in the foreground (`lighttpd -D -f CONF`) on 127.0.0.1, its configuration, pid and
/// logs in its temporary folder. Serves DocRoot() with Last-Modified from file times, HEAD and
/// byte ranges; with https a second port speaks TLS (mod_openssl) with a TestCA's certificate.
class Lighttpd {
public:
  /// Prepares the folders and picks free ports; nothing runs until Start().
  explicit Lighttpd(bool https = false);
  /// Stops the server.
  ~Lighttpd();
  Lighttpd(const Lighttpd&) = delete;
  Lighttpd& operator=(const Lighttpd&) = delete;

  /// Adds raw configuration text (conditionals such as `$HTTP["url"] =~ "^/x/" { ... }`).
  void AddConfig(const std::string& text);
  /// Writes the configuration, starts lighttpd and waits (bounded) until it accepts
  /// connections. Throws std::runtime_error with the log tails when it does not come up.
  void Start();
  /// Stops lighttpd. Idempotent.
  void Stop();

  std::uint16_t Port() const { return FPort; }
  /// 0 without https.
  std::uint16_t HttpsPort() const { return FHttpsPort; }
  const std::filesystem::path& DocRoot() const { return FDocRoot; }
  /// The CA behind the TLS port, or null without https.
  const TestCA* CA() const { return FCA.get(); }
  /// One line per request served, with its status.
  std::string AccessLog() const;

private:
  TempDir FDir{"qninet-lighttpd"};
  std::filesystem::path FDocRoot;
  std::unique_ptr<TestCA> FCA;
  std::uint16_t FPort = 0;
  std::uint16_t FHttpsPort = 0;
  std::string FExtra;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
