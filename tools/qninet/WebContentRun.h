#pragma once
// What the content sub-commands (rss, extract) share: a web component set up from URL_OR_PATH
// and the shared options, run, and its outcome turned into an exit code.

#include <string>
#include <utility>
#include <vector>

#include "Options.h"
#include "qninet/web/qniupdate.h"

namespace qninet::tool {

/// Applies --timeout, --proxy and --proxy-user to a web component. Returns exOk or exBadInput
/// after reporting.
int apply_web_options(Run& run, TQNCustomWebComponent& c);

/// Points `c` at an http://, https://, ftp:// or file:// URL or a local path and applies
/// --timeout, --proxy and --proxy-user. Returns exOk or exBadInput after reporting.
int configure_web(Run& run, TQNCustomWebUpdater& c, const std::string& target);

/// Runs `c`: exOk for a finished or skipped run, exNotFound, or exFailed with the reason.
int execute_web(Run& run, TQNCustomWebUpdater& c, const std::string& target);

/// While it lives, the environment's HTTP proxy is set aside, so a demo reaches its loopback
/// server directly.
class DirectConnections {
public:
  DirectConnections();
  ~DirectConnections();
  DirectConnections(const DirectConnections&) = delete;
  DirectConnections& operator=(const DirectConnections&) = delete;

private:
  std::vector<std::pair<std::string, std::string>> FSaved;
};

}  // namespace qninet::tool
