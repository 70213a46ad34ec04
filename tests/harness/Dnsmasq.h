#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qninet::harness {

/// dnsmasq as an authoritative-only DNS server on 127.0.0.1 (UDP and TCP on one free port):
/// no upstream servers, no /etc/hosts, no configuration file; only the records given.
class Dnsmasq {
public:
  /// records are dnsmasq options, e.g. "--address=/www.test/10.1.2.3",
  /// "--mx-host=test,mail.test,10", "--txt-record=test,\"v=spf1 -all\"",
  /// "--ptr-record=3.2.1.10.in-addr.arpa,www.test", "--cname=alias.test,www.test",
  /// "--host-record=host.test,10.0.0.5,fd00::5". Starts dnsmasq and waits (bounded) until it
  /// accepts TCP connections. Throws std::runtime_error with the log tail when it is missing
  /// or does not come up.
  explicit Dnsmasq(std::vector<std::string> records);
  ~Dnsmasq();
  Dnsmasq(const Dnsmasq&) = delete;
  Dnsmasq& operator=(const Dnsmasq&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// dnsmasq's log (queries are logged).
  std::string LogText() const;
  /// Stops dnsmasq. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-dnsmasq"};
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
