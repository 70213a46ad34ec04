#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qninet::harness {

/// An aiosmtpd SMTP server (run with /usr/bin/python3) on 127.0.0.1. Every accepted message
/// is stored as msg-N.eml (the exact DATA bytes, dot-unstuffed) with msg-N.json holding
/// {"mail_from": ..., "rcpt_tos": [...]}, N counting from 1.
/// A stored message read by Python's email package, as JSON: the headers From, To, Cc, Bcc,
/// Reply-To, Date, X-Priority, Subject, Message-Id, X-Mailer (null when absent), "date_parsed",
/// "defects" and "parts" (type, filename, charset, attachment, hex of the decoded bytes, and
/// text for text parts).
std::string ReadStoredMessage(const std::filesystem::path& eml);
/// Lower-case hex of bytes, as the reader gives part contents.
std::string HexOf(const std::string& bytes);

class SmtpServer {
public:
  /// Whether the server offers STARTTLS, or speaks TLS from the first byte.
  enum class Tls { None, StartTls, Implicit };
  struct Options {
    std::string User;  ///< with Password: AUTH (LOGIN, PLAIN, CRAM-MD5) accepts only this account
    std::string Password;
    bool RequireAuth = false;                    ///< refuse MAIL before a successful AUTH
    std::vector<std::string> RefusedRecipients;  ///< answered 550 5.1.1 <addr>: Recipient address rejected
    std::string Hostname = "qninet.test";        ///< the name in the greeting and EHLO reply
    Tls TlsMode = Tls::None;
    std::filesystem::path CertFile, KeyFile;  ///< the server's certificate (PEM) under TLS
    std::vector<std::string> ExcludedAuth;    ///< mechanisms not offered ("CRAM-MD5")
  };

  /// Starts the server and waits (bounded) for its greeting. Throws std::runtime_error with
  /// the log tail when python3-aiosmtpd is missing or it does not come up.
  explicit SmtpServer(Options options);
  SmtpServer() : SmtpServer(Options{}) {}
  ~SmtpServer();
  SmtpServer(const SmtpServer&) = delete;
  SmtpServer& operator=(const SmtpServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// Where messages are stored.
  const std::filesystem::path& MessageDir() const { return FMessages; }
  /// Waits up to timeout until at least expected messages are stored, then returns the
  /// .eml paths in arrival order (fewer when the time ran out).
  std::vector<std::filesystem::path> Messages(
      std::size_t expected = 0, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  /// The envelope JSON text stored beside a message path returned by Messages().
  static std::string Envelope(const std::filesystem::path& message);
  /// One line per EHLO, AUTH and MAIL received: "AUTH PLAIN tls=yes", "MAIL  tls=no".
  std::string Commands() const;
  /// The server's output (aiosmtpd logs each session).
  std::string LogText() const;
  /// Stops the server. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-smtp"};
  std::filesystem::path FMessages;
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
