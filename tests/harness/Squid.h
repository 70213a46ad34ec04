#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qninet::harness {

/// squid in the foreground (`squid -N -f CONF`) as a forward proxy on 127.0.0.1 for 127.0.0.1
/// only, with no cache; configuration, pid and logs in its temporary folder (every request is
/// in its access log).
class Squid {
public:
  /// Starts squid and waits (bounded) until it accepts connections. Throws std::runtime_error
  /// with the log tail when it is missing or does not come up.
  Squid();
  ~Squid();
  Squid(const Squid&) = delete;
  Squid& operator=(const Squid&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// The access log so far.
  std::string AccessLog() const;
  /// Stops squid. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-squid"};
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
