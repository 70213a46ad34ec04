#pragma once
// The system's proxy setting: `http_proxy`, else `HTTP_PROXY`, as the registry value a proxy
// reader expects ("host:port"); injectable for tests.

#include <optional>
#include <string>

namespace qninet::sys {

struct ProxySetting {
  std::optional<std::u16string> Server;  ///< "host:port", without scheme, user info or path
  std::optional<bool> Enabled;           ///< set when the variable is not empty
};

/// The setting of the environment, or the injected one.
ProxySetting proxy_setting();
/// "http://u:p@host:3128/" gives "host:3128" (IPv6 hosts stay in brackets); a value without a
/// scheme is kept up to its first "/".
std::u16string render_proxy_setting(std::u16string_view url);
/// Replaces the environment for the proxy look-up; nullopt goes back to the environment.
void set_proxy_setting_override(std::optional<ProxySetting> setting);

}  // namespace qninet::sys
