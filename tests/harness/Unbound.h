#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qninet::harness {

/// unbound answering only from local data on 127.0.0.1 (UDP and TCP on one free port): no
/// recursion out, no chroot, no privilege drop, every file in its temporary folder.
class Unbound {
public:
  /// serverLines are "server:" clauses, e.g. "local-zone: \"test.\" static",
  /// "local-data: \"www.test. 300 IN A 10.1.2.3\"", "local-data-ptr: \"10.1.2.3 www.test\"".
  /// Starts unbound and waits (bounded) until it accepts TCP connections. Throws
  /// std::runtime_error with the log tail when it is missing, refuses the configuration or does
  /// not come up.
  explicit Unbound(const std::vector<std::string>& serverLines);
  ~Unbound();
  Unbound(const Unbound&) = delete;
  Unbound& operator=(const Unbound&) = delete;

  std::uint16_t Port() const { return FPort; }
  std::string LogText() const;
  /// Stops unbound. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-unbound"};
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
