#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qninet::harness {

/// A 48-byte SNTP client request (version 4, mode 3) with a non-zero transmit time.
std::string SntpClientRequest();

/// chronyd serving NTP on 127.0.0.1 from its local clock (local stratum 10), never touching
/// the system clock (-x), command port off, all files in its temporary folder.
class Chrony {
public:
  /// Starts chronyd and waits (up to about 15 s) until it answers an SNTP request with a
  /// server reply of non-zero stratum. Throws std::runtime_error with the log tail when it
  /// is missing or does not answer.
  Chrony();
  ~Chrony();
  Chrony(const Chrony&) = delete;
  Chrony& operator=(const Chrony&) = delete;

  /// The UDP port.
  std::uint16_t Port() const { return FPort; }
  std::string LogText() const;
  /// Stops chronyd. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-chrony"};
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
