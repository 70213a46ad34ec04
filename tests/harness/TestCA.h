#pragma once

#include "harness/TempDir.h"

#include <filesystem>
#include <string>

namespace qninet::harness {

/// A throw-away certificate authority and a server certificate for 127.0.0.1, ::1 and
/// localhost, made with the openssl command (EC P-256 keys) in its own temporary folder.
class TestCA {
public:
  TestCA();  ///< throws std::runtime_error (with openssl's output) when openssl fails

  const std::filesystem::path& Dir() const { return FDir.Path(); }
  std::filesystem::path CaCert() const { return FDir.File("ca.crt"); }  ///< what a client trusts
  std::filesystem::path CaKey() const { return FDir.File("ca.key"); }
  std::filesystem::path ServerCert() const { return FDir.File("server.crt"); }
  std::filesystem::path ServerKey() const { return FDir.File("server.key"); }
  /// Signs one more server certificate, `stem`.crt with its key `stem`.key in Dir(), for the
  /// given subjectAltName ("DNS:wrong.test"). Throws as the constructor does.
  void IssueServerCert(const std::string& stem, const std::string& subjectAltName) const;

private:
  TempDir FDir{"qninet-ca"};
};

}  // namespace qninet::harness
