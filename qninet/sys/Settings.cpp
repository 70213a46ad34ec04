#include "qninet/sys/Settings.h"

#include <cstdlib>
#include <mutex>

namespace qninet::sys {

namespace {
std::mutex g_mutex;
std::optional<ProxySetting> g_override;
}  // namespace

String render_proxy_setting(StringView url) {
  String s(url);
  if (const auto scheme = s.find(u"://"); scheme != String::npos) s.erase(0, scheme + 3);
  if (const auto slash = s.find(u'/'); slash != String::npos) s.erase(slash);
  if (const auto at = s.rfind(u'@'); at != String::npos) s.erase(0, at + 1);
  return s;
}

ProxySetting proxy_setting() {
  {
    std::lock_guard lock(g_mutex);
    if (g_override) return *g_override;
  }
  const char* value = std::getenv("http_proxy");
  if (!value) value = std::getenv("HTTP_PROXY");
  ProxySetting setting;
  if (!value) return setting;
  setting.Server = render_proxy_setting(FromUtf8(value));
  setting.Enabled = *value != '\0';
  return setting;
}

void set_proxy_setting_override(std::optional<ProxySetting> setting) {
  std::lock_guard lock(g_mutex);
  g_override = std::move(setting);
}

}  // namespace qninet::sys
