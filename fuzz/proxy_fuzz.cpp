// The proxy setting on arbitrary values: as the http_proxy variable (a URL or host:port) and as
// a stored "host:port" or "http=host:port;..." value. The server read is part of the value, holds
// no path or user part, and the port read is a port.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "qninet/core/qniutil.h"
#include "qninet/sys/Settings.h"

using namespace qninet;

namespace {

void check_read(std::size_t valueSize, bool fromVariable) {
  String server;
  bool use = false;
  Integer port = 8080;
  ReadProxyInfo(server, use, port);
  // A URL's host is normalised: "0" is the address 0.0.0.0.
  FUZZ_CHECK(server.size() <= valueSize + 16);
  FUZZ_CHECK(port == 8080 || (port >= 0 && port <= 65535));
  if (fromVariable) FUZZ_CHECK(server.find_first_of(u"/@") == String::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool cleared = (unsetenv("HTTP_PROXY"), true);
  (void)cleared;
  std::string value(fuzz::bytes_of(data, size));
  value = value.substr(0, value.find('\0'));

  sys::set_proxy_setting_override(std::nullopt);
  setenv("http_proxy", value.c_str(), 1);
  check_read(value.size(), true);

  sys::ProxySetting stored;
  stored.Server = FromBytes(value);
  stored.Enabled = true;
  sys::set_proxy_setting_override(stored);
  check_read(value.size(), false);
  return 0;
}
