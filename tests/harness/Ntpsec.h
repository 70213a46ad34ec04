#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qninet::harness {

/// ntpsec's ntpd serving NTP on 127.0.0.1 port 123 (ntpsec has no setting for another port, so
/// this needs root, as in CI) from its own clock in orphan mode (stratum 10, no upstream
/// servers). It runs without CAP_SYS_TIME and with its clock discipline disabled, so it can
/// never set the system clock. ntpsec conflicts with chrony as a Debian install:
/// scripts/install-deps.sh unpacks it under $QNINET_PEERS_DIR (default /var/cache/qninet-peers).
class Ntpsec {
public:
  /// Starts ntpd and waits (up to about 15 s) until it answers an SNTP request with a server
  /// reply of non-zero stratum. Throws std::runtime_error when it is missing, port 123 is taken
  /// or cannot be bound, or it does not answer (with the log tail).
  Ntpsec();
  ~Ntpsec();
  Ntpsec(const Ntpsec&) = delete;
  Ntpsec& operator=(const Ntpsec&) = delete;

  /// Always 123.
  std::uint16_t Port() const { return 123; }
  std::string LogText() const;
  /// Stops ntpd. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-ntpsec"};
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
