#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qninet::harness {

/// xinetd in the foreground offering only its internal daytime service (RFC 867) over TCP on
/// 127.0.0.1 port 13. It answers like "06 DEC 2026 20:51:52 UTC\r\n". Port 13 is privileged,
/// so this needs root (as in CI).
class XinetdDaytime {
public:
  /// Starts xinetd and waits (bounded) until the service answers. Throws std::runtime_error
  /// when xinetd is missing, port 13 is taken or cannot be bound (not root), or it does not
  /// come up (with the log tail).
  XinetdDaytime();
  ~XinetdDaytime();
  XinetdDaytime(const XinetdDaytime&) = delete;
  XinetdDaytime& operator=(const XinetdDaytime&) = delete;

  /// Always 13.
  std::uint16_t Port() const { return 13; }
  std::string LogText() const;
  /// Stops xinetd. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-xinetd"};
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
