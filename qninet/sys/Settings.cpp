#include "qninet/sys/Settings.h"

#include <cstdlib>
#include <mutex>

#include "qninet/sys/UrlParser.h"

namespace qninet::sys {

namespace {
std::mutex g_mutex;
std::optional<ProxySetting> g_override;

std::u16string widen(std::string_view s) { return std::u16string(s.begin(), s.end()); }
}  // namespace

std::u16string render_proxy_setting(std::u16string_view url) {
  std::u16string s(url);
  if (s.find(u"://") != std::u16string::npos) {
    std::string narrow;
    for (const char16_t c : s) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    if (auto parts = parse_url(narrow)) {
      const std::string host =
          parts->Host.find(':') != std::string::npos ? "[" + parts->Host + "]" : parts->Host;
      return widen(parts->ExplicitPort ? host + ":" + std::to_string(parts->Port) : host);
    }
    s.erase(0, s.find(u"://") + 3);
  }
  if (const auto slash = s.find(u'/'); slash != std::u16string::npos) s.erase(slash);
  if (const auto at = s.rfind(u'@'); at != std::u16string::npos) s.erase(0, at + 1);
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
  setting.Server = render_proxy_setting(widen(value));
  setting.Enabled = *value != '\0';
  return setting;
}

void set_proxy_setting_override(std::optional<ProxySetting> setting) {
  std::lock_guard lock(g_mutex);
  g_override = std::move(setting);
}

}  // namespace qninet::sys
