#include "WebContentRun.h"

#include <cmath>
#include <cstdlib>

#include "qninet/core/Url.h"

namespace qninet::tool {

int apply_web_options(Run& run, TQNCustomWebComponent& c) {
  const CommonOptions& o = run.Options();
  if (o.Timeout > 0)
    c.SetTimeout(static_cast<Cardinal>(std::max(1LL, std::llround(o.Timeout * 1000))));
  else if (o.Timeout == 0)
    c.SetTimeout(0);
  if (!o.Proxy.empty()) {
    const auto hp = HostPort::Parse(o.Proxy);
    if (!hp || hp->Port == 0)
      return run.Fail(exBadInput, "", "--proxy wants HOST:PORT, got \"" + o.Proxy + "\"");
    // The web components take the system's proxy, which is the environment's here.
    ::setenv("http_proxy", ("http://" + hp->ToString()).c_str(), 1);
  }
  if (!o.ProxyUser.empty()) {
    const auto colon = o.ProxyUser.find(':');
    c.Proxy()->SetUser(FromUtf8(o.ProxyUser.substr(0, colon)));
    if (colon != std::string::npos) c.Proxy()->SetPassword(FromUtf8(o.ProxyUser.substr(colon + 1)));
  }
  c.SetLoginPrompt(false);
  return exOk;
}

int configure_web(Run& run, TQNCustomWebUpdater& c, const std::string& target) {
  if (target.find("://") == std::string::npos) {
    c.SetService(isNetwork);
    c.SetRemoteFileName(FromUtf8(target));
  } else {
    try {
      c.SetURL(FromUtf8(target));
    } catch (const Exception& e) {
      return run.Fail(exBadInput, "", e.what());
    }
  }
  return apply_web_options(run, c);
}

int execute_web(Run& run, TQNCustomWebUpdater& c, const std::string& target) {
  try {
    c.Execute();
  } catch (const Exception& e) {
    return run.Fail(exFailed, target, e.what());
  }
  if (c.Status() == isNotFound) return run.Fail(exNotFound, target, "not found");
  if (c.Status() == isFailed)
    return run.Fail(exFailed, target, c.LastErrorText().empty() ? "failed" : ToUtf8(c.LastErrorText()));
  return exOk;
}

DirectConnections::DirectConnections() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
    if (const char* v = std::getenv(name)) {
      FSaved.emplace_back(name, v);
      ::unsetenv(name);
    }
}

DirectConnections::~DirectConnections() {
  for (const auto& [name, value] : FSaved) ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace qninet::tool
