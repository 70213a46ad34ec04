#pragma once

#include "harness/Process.h"
#include "harness/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qninet::harness {

/// tinyproxy in the foreground on 127.0.0.1, allowing only 127.0.0.1, logging at Info level
/// to a file in its temporary folder (every request appears there).
class TinyProxy {
public:
  struct Options {
    std::string User;  ///< with Password: the proxy requires Basic credentials
    std::string Password;
    std::vector<std::uint16_t> ConnectPorts;  ///< ports CONNECT may reach; empty allows all
  };

  /// Starts tinyproxy and waits (bounded) until it accepts connections. Throws
  /// std::runtime_error with the log tail when it is missing or does not come up.
  explicit TinyProxy(Options options);
  TinyProxy() : TinyProxy(Options{}) {}
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// "http://127.0.0.1:PORT" (what http_proxy would hold).
  std::string Url() const;
  /// The proxy's log so far.
  std::string LogText() const;
  /// Stops tinyproxy. Idempotent.
  void Stop();

private:
  TempDir FDir{"qninet-tinyproxy"};
  std::uint16_t FPort = 0;
  std::unique_ptr<Process> FProcess;
};

}  // namespace qninet::harness
