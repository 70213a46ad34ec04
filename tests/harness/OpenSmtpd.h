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

/// OpenSMTPD on 127.0.0.1 delivering every recipient of every domain into one maildir in its
/// temporary folder (as user nobody). Each recipient gets its own copy, which starts with
/// "Return-Path: <sender>" and "Delivered-To: recipient".
/// It must run as root (it drops privileges itself), and its queue (/var/spool/smtpd) and
/// control socket are fixed paths: one instance at a time.
class OpenSmtpd {
public:
  /// Starts smtpd in the foreground and waits (bounded) until it accepts connections; it refuses
  /// the refusedRecipients at RCPT. Throws std::runtime_error with its output when it is
  /// missing, not run as root, or does not come up.
  explicit OpenSmtpd(const std::vector<std::string>& refusedRecipients = {});
  ~OpenSmtpd();
  OpenSmtpd(const OpenSmtpd&) = delete;
  OpenSmtpd& operator=(const OpenSmtpd&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// Waits up to timeout until at least expected copies are delivered, then returns their
  /// paths sorted by name (fewer when the time ran out).
  std::vector<std::filesystem::path> Deliveries(
      std::size_t expected, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  /// smtpd's log (sessions, envelopes and deliveries).
  std::string LogText() const;
  /// Stops smtpd and its helpers. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-opensmtpd"};
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
