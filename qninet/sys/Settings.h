#pragma once
// The current user's settings that the library reads on demand. On Linux the proxy is the
// environment's http_proxy (else HTTP_PROXY). Tests inject raw values instead.

#include <optional>

#include "qninet/rtl/SysUtils.h"

namespace qninet::sys {

/// The proxy setting in the forms the parsing rules read: the server text and the enable
/// flag, each absent when the system has no such value.
struct ProxySetting {
  std::optional<String> Server;  ///< "host:port", without scheme, user info or path
  std::optional<bool> Enabled;   ///< set when the variable is not empty
};

/// The system's proxy setting, or the injected one.
QNINET_API ProxySetting proxy_setting();
/// Reduces a proxy URL such as "http://user:pw@host:3128/" to "host:3128".
QNINET_API String render_proxy_setting(StringView url);
/// Replaces the system's setting for later reads (tests); std::nullopt restores it.
QNINET_API void set_proxy_setting_override(std::optional<ProxySetting> setting);

}  // namespace qninet::sys
