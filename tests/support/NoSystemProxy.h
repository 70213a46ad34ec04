#pragma once
// Keeps a developer's http_proxy from sending loopback transfers elsewhere for one test's life.

#include "qninet/sys/Settings.h"

namespace qninet::test_support {

struct NoSystemProxy {
  NoSystemProxy() { sys::set_proxy_setting_override(sys::ProxySetting{}); }
  ~NoSystemProxy() { sys::set_proxy_setting_override(std::nullopt); }
  NoSystemProxy(const NoSystemProxy&) = delete;
  NoSystemProxy& operator=(const NoSystemProxy&) = delete;
};

}  // namespace qninet::test_support
